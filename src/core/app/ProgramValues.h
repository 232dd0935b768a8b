#pragma once

#include <QString>

class Prompt;
class Clock;
class Shell;
class Registry;
class SettingsStore;
class Sound;

// Values the whole program shares for one run. They are loaded from the settings store by
// the window that first needs them and changed by the dialogs; they reach the store only at
// the moments the windows write them.
struct ProgramValues {
    int DownloadMode = 2; // 1 single connection, 2 parallel connections
    bool ProxyEnabled = false;
    QString ProxyAddress;
    QString ProxyPort;
    QString DefaultSaveFolder;
    bool UseLinkFileName = false;
    bool SaveFolderCancelled = false;
    bool PromptSaveFolder = true;
    QString SameNamePolicy = QStringLiteral("重命名");
    QString OsText;
    // The journal's home page, which the search window opens. Tests point it at the local
    // test server, since no test may reach the internet.
    QString SearchHomePage = QStringLiteral("https://www.science.org/");
    // The maker's web site host, which publishes the version file and the program's page.
    // Empty while the program has no published version file: the check then cannot open its
    // request and stays silent, instead of greeting every start with a network message.
    // Tests point it at the local test server.
    QString MakerSiteHost = QStringLiteral("");
};

ProgramValues& Program();

// The desktop and the clock as the windows reach them. The real program installs the Qt
// implementations at start; tests install doubles. Logic below the windows takes these as
// parameters instead of reading them here.
struct AppServices {
    Prompt* prompt = nullptr;
    Clock* clock = nullptr;
    Shell* shell = nullptr;
    Registry* registry = nullptr;
    SettingsStore* settings = nullptr;
    Sound* sound = nullptr;
};

AppServices& Services();

// The installed clock, or the system's when none is installed.
const Clock& ProgramClock();
