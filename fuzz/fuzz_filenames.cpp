// The file-name rules: a name from a page, a link or the user becomes a file name that stays
// in its folder, and a typed folder path is built below where it says, never beside it.

#include "FuzzSupport.h"

#include "core/download/Naming.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

// Two fences around the root the folder paths are built in: whatever climbs out of the root
// shows up beside it or beside the first fence.
struct Fences {
    QString outer = FuzzScratch().filePath(QStringLiteral("fence"));
    QString root = outer + QStringLiteral("/root");
    Fences() { QF_FUZZ_CHECK(QDir().mkpath(root)); }
};

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

int Gb18030Bytes(const QString& text) {
    QStringEncoder encoder("GB18030");
    return int(QByteArray(encoder(text)).size());
}

void CheckCleanName(const QString& name) {
    const QString clean = CleanFileName(name);
    if (clean.isEmpty())
        return;
    QF_FUZZ_CHECK(IsUsableFileName(clean));
    QF_FUZZ_CHECK(clean.isValidUtf16());
    for (const QChar c : clean) {
        QF_FUZZ_CHECK(!QStringLiteral("\\/:*?\"<>|").contains(c));
        QF_FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    }
    QF_FUZZ_CHECK(!clean.startsWith('.') && !clean.endsWith('.'));
    QF_FUZZ_CHECK(!clean.startsWith(' ') && !clean.endsWith(' '));
    QF_FUZZ_CHECK(Gb18030Bytes(clean) <= 250);
    QF_FUZZ_CHECK(CleanFileName(clean) == clean);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Fences fences;
    FuzzedDataProvider input(data, size);
    const std::string nameBytes = input.ConsumeRandomLengthString(2048);
    const QString name = InputText(QByteArray(nameBytes.data(), qsizetype(nameBytes.size())));
    const std::string typeBytes = input.ConsumeRandomLengthString(64);
    const QString type = InputText(QByteArray(typeBytes.data(), qsizetype(typeBytes.size())));
    const std::string pathBytes = input.ConsumeRemainingBytesAsString();
    const QString relative = InputText(QByteArray(pathBytes.data(), qsizetype(pathBytes.size())));

    CheckCleanName(name);
    const QString target = TargetFilePath(fences.root, name, type);
    if (!target.isEmpty()) {
        QF_FUZZ_CHECK(target.startsWith(fences.root + '/'));
        QF_FUZZ_CHECK(!target.mid(fences.root.size() + 1).contains('/'));
    }

    int complaints = 0;
    const QString made =
        MakeFolderPath(fences.root + '/' + relative, [&complaints](const QString& message) {
            QF_FUZZ_CHECK(message == BadFolderNameMessage());
            ++complaints;
        });
    QF_FUZZ_CHECK(complaints <= 1);
    QF_FUZZ_CHECK(Entries(fences.outer) == QStringList{QStringLiteral("root")});
    QF_FUZZ_CHECK(Entries(FuzzScratch().path()) == QStringList{QStringLiteral("fence")});
    if (!made.isEmpty()) {
        QF_FUZZ_CHECK(made == fences.root || made.startsWith(fences.root + '/'));
        QF_FUZZ_CHECK(QFileInfo(made).isDir());
        QF_FUZZ_CHECK(QDir(made).canonicalPath().startsWith(QDir(fences.root).canonicalPath()));
    }
    // Each input starts from an empty root, so that a folder one input made cannot be taken
    // "as typed" by the next.
    if (!Entries(fences.root).isEmpty()) {
        QF_FUZZ_CHECK(QDir(fences.root).removeRecursively());
        QF_FUZZ_CHECK(QDir().mkpath(fences.root));
    }
    return 0;
}
