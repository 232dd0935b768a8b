// The helpers that turn a server's Content-Type and a record's link into a file type, a site,
// request headers, connection settings and a file name. Links come from pages and from lists
// the user imports, Content-Types from any server: neither is to be trusted.

#include "FuzzSupport.h"

#include "core/download/Naming.h"
#include "core/search/ResultPages.h"
#include "core/search/TodaySite.h"
#include "core/tools/UrlCache.h"
#include "core/transfer/Downloader.h"
#include "core/transfer/SingleTransfer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

QString Take(FuzzedDataProvider& input) {
    const std::string bytes = input.ConsumeRandomLengthString(4096);
    return InputText(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

// A header block is one header line: its value may not start a line of its own.
void CheckHeaderBlock(const QString& block, const QString& name) {
    QF_FUZZ_CHECK(block.startsWith(name));
    QF_FUZZ_CHECK(block.endsWith(QStringLiteral("\r\n")));
    const QString value = block.mid(name.size(), block.size() - name.size() - 2);
    QF_FUZZ_CHECK(!value.contains('\r') && !value.contains('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QString header = Take(input);
    const QString link = Take(input);
    const QString page = Take(input);
    const QString other = Take(input);
    const bool flag = input.ConsumeBool();
    const double received = input.ConsumeFloatingPoint<double>();
    const double total = input.ConsumeFloatingPoint<double>();
    const int state = input.ConsumeIntegral<int>();

    const QString contentType = ContentTypeWithoutParameters(header);
    QF_FUZZ_CHECK(!contentType.contains(';'));
    const QString type = ContentTypeToType(contentType);
    if (IsUsableFileType(type))
        QF_FUZZ_CHECK(!type.contains('/') && !type.contains(QChar(0)));
    AnnouncedLength(header);
    PercentText(received, total);
    InetStateText(state, state, other);

    SiteRoot(link);
    CheckHeaderBlock(RefererHeaderBlock(page, link), QStringLiteral("Referer: "));
    CheckHeaderBlock(RefererHeaderBlock({}, link), QStringLiteral("Referer: "));
    CheckHeaderBlock(FallbackHeaderBlock(page, link), QStringLiteral("Referer:"));
    CheckHeaderBlock(FallbackHeaderBlock({}, link), QStringLiteral("Referer:"));
    const QString directory = DirectoryOfUrl(link);
    QF_FUZZ_CHECK(directory.endsWith('/'));
    const SingleTransferConnection connection = ConnectionSettingsFor(link, flag, page, other);
    QF_FUZZ_CHECK(connection.remotePort >= 0);

    const QString name = FileNameFromLink(link, flag);
    QF_FUZZ_CHECK(!name.contains('/') && !name.contains('\\'));
    const QString recordName = RecordFileNameFromLink(link);
    // Whatever a link names, the cleaned name stays inside its folder.
    const QString cleaned = CleanFileName(recordName);
    QF_FUZZ_CHECK(cleaned.isEmpty() || IsUsableFileName(cleaned));
    UrlFileType(link);
    AddressFromCacheKey(link);

    if (const std::optional<QString> doi = DoiOfLink(link)) {
        IsTrapDoi(*doi);
        TodayPdfLink(page, *doi);
    }
    StartPageOf(link);
    PageSizeOf(link);
    NextTodaySearchAddress(link);
    const int first = FirstIndexOf(link);
    QF_FUZZ_CHECK(first >= 0);
    NextPageAddress(link, first);
    DecodeAmpersands(link);
    ParseTimeoutSeconds(other);
    return 0;
}
