// The reader of the browser's cache entries: the files were written by another program (or by
// anyone who can write into the cache folder), so every length in them is a claim to check.

#include "FuzzSupport.h"

#include "core/download/Naming.h"
#include "core/tools/UrlCache.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = FuzzScratch().filePath(QStringLiteral("0123456789abcdef_0"));
    static const QString target = FuzzScratch().filePath(QStringLiteral("body"));
    WriteWholeFile(path, data, size);
    const std::optional<CacheEntry> entry = ReadCacheEntry(path);
    if (!entry)
        return 0;
    QF_FUZZ_CHECK(entry->bodyOffset >= 0 && entry->bodySize >= 0);
    QF_FUZZ_CHECK(entry->bodyOffset + entry->bodySize <= qint64(size));
    const std::optional<QByteArray> body = ReadCacheBody(*entry);
    QF_FUZZ_CHECK(body && body->size() == entry->bodySize);
    const QString name = CacheBodyFileName(*entry);
    QF_FUZZ_CHECK(IsUsableFileName(name));
    UrlFileType(entry->address);
    entry->header(QStringLiteral("Content-Type"));
    if (SaveCacheBody(*entry, target))
        QF_FUZZ_CHECK(QFileInfo(target).isFile());
    return 0;
}
