#include "ui/app/Application.h"

#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    // Chromium refuses to start its sandbox as root (build machines run everything as root), so
    // only root runs the embedded browser without it; a normal user keeps the sandbox on. A value
    // the caller set is left as it is.
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    return QuillfetchMain(argc, argv);
}
