#include "ui/app/Application.h"

#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/platform/Clock.h"
#include "core/platform/Registry.h"
#include "ui/app/Forms.h"
#include "ui/app/TerminalDownload.h"
#include "ui/app/fCover.h"
#include "ui/platform/DesktopShell.h"
#include "ui/platform/QtPrompt.h"
#include "ui/platform/QtSound.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// A desktop session that ends (or a user's Ctrl+C in a terminal) closes the program the way
// its start-up window's close box would, so the settings are saved.
void installTerminationHandler(QObject* parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        if (QWidget* cover = Forms::Find(QStringLiteral("fCover")))
            Forms::Unload(cover);
        else
            QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace

int InstallChineseInterface(QCoreApplication& app) {
    // Everything the program shows is Chinese, whatever the desktop's language: Qt's own
    // buttons and dialogs, number formats, and the browser's own pages, which take the locale
    // when the first browser profile is made.
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    QLocale::setDefault(chinese);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    int installed = 0;
    for (const char* catalogue : {"qtbase", "qtwebengine", "qtmultimedia"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"),
                             folder) &&
            QCoreApplication::installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}

int RunQuillfetch(const AppServices& services) {
    Services() = services;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false); // only the start-up window ends the program
    Forms::fCover();
    const int code = QCoreApplication::exec();
    Forms::DestroyAll();
    DestroyBrowserProfile(); // after every browser that uses it
    if (services.settings)
        services.settings->Sync();
    return code;
}

namespace {

void setApplicationNames() {
    // The same names in both starts: the settings, the journal and the browser profile's
    // cookies are found under them.
    QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    QCoreApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));
}

// The terminal's start: no QApplication, so it runs where no display is.
int terminalMain(int argc, char** argv, const TerminalArguments& arguments) {
    if (arguments.kind == TerminalArguments::Kind::Help) {
        std::fputs(TerminalHelpText().toUtf8().constData(), stdout);
        return TerminalExit::Completed;
    }
    if (arguments.kind == TerminalArguments::Kind::Bad) {
        std::fputs(QStringLiteral("quillfetch：%1\n详见 quillfetch --help\n")
                       .arg(arguments.error)
                       .toUtf8()
                       .constData(),
                   stderr);
        return TerminalExit::BadInput;
    }
    QCoreApplication app(argc, argv);
    setApplicationNames();
    InstallChineseInterface(app);
    return RunTerminalDownload(arguments.options);
}

} // namespace

int QuillfetchMain(int argc, char** argv) {
    QStringList given;
    for (int n = 1; n < argc; ++n)
        given << QString::fromLocal8Bit(argv[n]);
    const TerminalArguments arguments = ParseTerminalArguments(given);
    if (arguments.kind != TerminalArguments::Kind::Desktop)
        return terminalMain(argc, argv, arguments);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    setApplicationNames();
    QApplication::setDesktopFileName(QStringLiteral("quillfetch"));
    installTerminationHandler(&app);
    InstallChineseInterface(app);

    QtPrompt prompt;
    SystemClock clock;
    DesktopShell shell;
    IniRegistry registry(IniRegistry::defaultFilePath());
    SettingsStore settings;
    QtSound sound;
    return RunQuillfetch(AppServices{&prompt, &clock, &shell, &registry, &settings, &sound});
}
