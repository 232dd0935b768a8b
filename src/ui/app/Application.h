#pragma once

struct AppServices;

// The whole program: creates the application object and the desktop services, loads the
// start-up window and runs until it is unloaded. main() only calls this. With the terminal's
// arguments (--download, --resume, --help) it runs the download without any window instead,
// and without a QApplication, so that it needs no display.
int QuillfetchMain(int argc, char** argv);

// Runs the program inside an existing application object with the given services: loads
// the start-up window, runs the event loop until the start-up window is unloaded, then
// deletes the windows. Returns the exit code.
int RunQuillfetch(const AppServices& services);

class QCoreApplication;

// Sets the Chinese locale and installs Qt's own Chinese translations (its buttons, dialogs and
// the browser's messages) from the system's translations folder. Returns how many catalogues
// were found; none are found when Debian's qt6-translations-l10n is missing.
int InstallChineseInterface(QCoreApplication& app);
