// Placeholders for the transfers until they land; dropped then.

#include "download/fFileDownload.h"
#include "platform/Inet.h"

bool Inet::StillExecuting() const {
    return false;
}

void Inet::Cancel() {}

void fFileDownload::Inet下载当前文件(int) {}
