#include "core/app/FileHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringEncoder>

namespace {

// A path with an embedded NUL cannot name anything; Qt would also warn about it.
bool UsablePath(const QString& path) {
    return !path.isEmpty() && !path.contains(QChar(0));
}

} // namespace

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith('/') ? folder : folder + '/';
}

namespace {

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

QString WithoutBrokenSurrogates(const QString& text, std::optional<QChar> replacement) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result.append(c);
            result.append(text.at(++i));
        } else if (c.isSurrogate()) {
            if (replacement)
                result.append(*replacement);
        } else {
            result.append(c);
        }
    }
    return result;
}

bool WriteGb18030File(const QString& path, const QString& text) {
    if (!UsablePath(path))
        return false;
    QStringEncoder encoder("GB18030");
    if (!encoder.isValid())
        return false;
    const QByteArray bytes =
        encoder.encode(WithoutBrokenSurrogates(text, QChar::ReplacementCharacter));
    if (encoder.hasError())
        return false;
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

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
