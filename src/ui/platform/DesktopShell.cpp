#include "ui/platform/DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

DesktopShell::DesktopShell(int fileManagerTimeoutMs)
    : fileManagerTimeoutMs_(fileManagerTimeoutMs) {}

bool DesktopShell::openUrl(const QString& address) {
    if (address.trimmed().isEmpty())
        return false;
    // Accepts "www.example.org" as well as full addresses, as a desktop launcher does.
    const QUrl url = QUrl::fromUserInput(address);
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool DesktopShell::openFile(const QString& path) {
    if (path.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool DesktopShell::showItemInFolder(const QString& path) {
    if (path.isEmpty())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    call << QStringList{uri} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, fileManagerTimeoutMs_);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool DesktopShell::startProgram(const QString& program, const QString& argument) {
    const QString executable = QStandardPaths::findExecutable(program);
    if (executable.isEmpty())
        return false;
    return QProcess::startDetached(executable, {argument});
}
