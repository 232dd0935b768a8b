// The type of a downloaded file judged from its bytes: any file a server sent must give one of
// the listed extensions or "".

#include "FuzzSupport.h"

#include "core/download/FileType.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString path = FuzzScratch().filePath(QStringLiteral("download"));
    static const QStringList known{
        QStringLiteral("pdf"),  QStringLiteral("caj"), QStringLiteral("kdh"), QStringLiteral("nh"),
        QStringLiteral("tif"),  QStringLiteral("exe"), QStringLiteral("rar"), QStringLiteral("zip"),
        QStringLiteral("docx"), QStringLiteral("swf"), QStringLiteral("rm"),  QStringLiteral("wma"),
        QStringLiteral("mp3"),  QStringLiteral("png"), QStringLiteral("gif"), QStringLiteral("jpg"),
        QStringLiteral("doc"),  QStringLiteral("xls"), QStringLiteral("ppt"), QStringLiteral("htm"),
        QStringLiteral("caa")};
    WriteWholeFile(path, data, size);
    const QString type = ClassifyFileType(path);
    QF_FUZZ_CHECK(type.isEmpty() || known.contains(type));
    return 0;
}
