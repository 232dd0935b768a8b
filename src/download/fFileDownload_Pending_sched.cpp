// Placeholders for the transfers until they land; dropped then.

#include "download/fFileDownload.h"

void fFileDownload::Inet下载当前文件(int) {}
