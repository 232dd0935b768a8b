// Stand-ins for routines another branch brings, so that this branch links on its own.

#include "download/fFileDownload.h"

bool fFileDownload::CorrectItemFileType(int /*position*/) {
    return false;
}

void fFileDownload::PlaySound(int /*number*/) {}
