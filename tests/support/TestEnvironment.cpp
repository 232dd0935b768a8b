#include "TestEnvironment.h"

#include "core/app/ProgramValues.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir>& home() {
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}
} // namespace

void PrepareTestEnvironment() {
    home() = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/quillfetch-test-XXXXXX");
    const QByteArray root = home()->path().toUtf8();
    for (const char* sub : {"/config", "/data", "/cache", "/runtime", "/Downloads"})
        QDir().mkpath(home()->path() + sub);
    QFile::setPermissions(home()->path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    setenv("XDG_DOWNLOAD_DIR", (root + "/Downloads").constData(), 1);
    // Tests run headless unless the caller chose otherwise.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    // The search window opens the journal's home page when it loads; tests stay on this
    // machine.
    Program().SearchHomePage = QStringLiteral("about:blank");
    // No desktop session bus: the file manager calls must fail fast and cleanly.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

QProcessEnvironment ChildEnvironment(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* sub : {"config", "data", "cache", "runtime"})
        QDir().mkpath(home + '/' + sub);
    QFile::setPermissions(home + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("XDG_DATA_HOME", home + "/data");
    environment.insert("XDG_CACHE_HOME", home + "/cache");
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

QString TestHome() {
    return home() ? home()->path() : QString();
}
