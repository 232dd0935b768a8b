#include "app/FileHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// A path with an embedded NUL cannot name anything; Qt would also warn about it.
bool UsablePath(const QString& path) {
    return !path.isEmpty() && !path.contains(QChar(0));
}

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith('/') ? folder : folder + '/';
}

#ifndef QF_BUILD_TREE
#define QF_BUILD_TREE ""
#endif

// True when `folder` is the tree this program was built in or lies inside it. Both sides are
// resolved, so a symbolic link neither smuggles an installed copy in nor keeps a build out.
bool InsideBuildTree(const QString& folder) {
    const QString tree = QFileInfo(QString::fromUtf8(QF_BUILD_TREE)).canonicalFilePath();
    const QString resolved = QFileInfo(folder).canonicalFilePath();
    if (tree.isEmpty() || resolved.isEmpty())
        return false;
    return resolved == tree || resolved.startsWith(WithTrailingSlash(tree));
}

} // namespace

bool FileExists(const QString& path) {
    if (!UsablePath(path))
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool FolderExists(const QString& path) {
    if (!UsablePath(path))
        return false;
    return QFileInfo(path).isDir();
}

QString SplitFileName(const QString& path, QString& baseName) {
    const QString trimmed = TrimSpaces(path);
    const QString name = trimmed.mid(trimmed.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    QString extension;
    if (dot < 0) {
        baseName = name;
    } else {
        extension = name.mid(dot + 1);
        baseName = name.left(dot);
        // A long "extension" is part of the name (report.version2), not a file type.
        if (extension.size() >= 7) {
            baseName = name;
            extension.clear();
        }
    }
    baseName = TrimSpaces(baseName);
    return TrimSpaces(extension);
}

QString RemoveLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != QChar('\r') && c != QChar('\n') && c != QChar(0))
            result.append(c);
    }
    return result;
}

QString TrimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QChar(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QChar(' '))
        --end;
    return text.mid(begin, end - begin);
}

QString ProgramFolder() {
    const QString executableFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return ProgramFolder(executableFolder);
}

QString ProgramFolder(const QString& executableFolder) {
    if (!executableFolder.isEmpty()) {
        const QFileInfo info(executableFolder);
        if (info.isDir() && info.isWritable() && InsideBuildTree(info.absoluteFilePath()))
            return WithTrailingSlash(info.absoluteFilePath());
    }
    // An installed copy keeps the history file and the sound clips in the user's data folder:
    // its folder is not the user's to write into, and even root must not litter /usr/bin.
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataFolder);
    return WithTrailingSlash(dataFolder);
}
