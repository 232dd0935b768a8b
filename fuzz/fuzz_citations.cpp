// The reading of a reference manager's file: the first byte picks the name the file came
// under (and with it the reader), the rest is the file. Every entry kept can be fetched, every
// entry left out is named by a line of the file, and what was read survives being written as
// a citation file and read again.

#include "FuzzSupport.h"

#include "core/app/WebAddress.h"
#include "core/download/CitationImport.h"
#include "core/download/Citations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const char* const names[] = {"refs.ris", "refs.bib", "refs.json", "refs.txt"};
    const QByteArray bytes = InputBytes(data + 1, size - 1);
    const CitationFileContents contents =
        ParseCitationFile(QString::fromLatin1(names[data[0] % 4]), bytes);
    const int lines = int(bytes.count('\n')) + 1;
    QList<CitationEntry> written;
    for (const ImportedCitation& entry : contents.entries) {
        QF_FUZZ_CHECK(entry.line >= 1 && entry.line <= lines);
        QF_FUZZ_CHECK(!entry.metadata.doi.isEmpty() || IsWebAddress(entry.link));
        written << CitationOf(entry.metadata, entry.link, QString(), QString());
    }
    for (const int line : contents.unusableLines)
        QF_FUZZ_CHECK(line >= 1 && line <= lines);
    for (const CitationFormat format :
         {CitationFormat::Ris, CitationFormat::BibTeX, CitationFormat::CslJson}) {
        const CitationFileContents again = ParseCitationFile(
            QStringLiteral("again") + CitationExtension(format), CitationFileText(written, format));
        QF_FUZZ_CHECK(again.entries.size() == contents.entries.size());
    }
    return 0;
}
