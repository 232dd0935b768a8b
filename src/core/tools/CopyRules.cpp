#include "core/tools/CopyRules.h"

#include "core/app/FileHelpers.h"
#include "core/download/Naming.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace {

constexpr qint64 kCopyChunk = 1 << 20;

QString JoinName(const QString& base, const QString& extension) {
    return extension.isEmpty() ? base : base + '.' + extension;
}

// Anything at the path takes the name, a dangling link included.
bool NameTaken(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

bool IsDigits(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QChar('0') || c > QChar('9'))
            return false;
    }
    return true;
}

} // namespace

QString SplitPath(const QString& path, QString& extension, QString& baseName) {
    const QString trimmed = TrimSpaces(path);
    const qsizetype slash = trimmed.lastIndexOf('/');
    const QString folder = trimmed.left(slash + 1);
    const QString name = trimmed.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf('.');
    extension.clear();
    baseName = name;
    if (dot >= 0) {
        const QString type = name.mid(dot + 1);
        if (type.size() < 7) {
            extension = type;
            baseName = name.left(dot);
        }
    }
    if (baseName.isEmpty()) {
        baseName = name;
        extension.clear();
    }
    extension = TrimSpaces(extension);
    baseName = TrimSpaces(baseName);
    return folder;
}

QString SplitCopyNumber(const QString& name, QString& base) {
    base = name;
    if (!name.endsWith(']'))
        return {};
    const qsizetype open = name.lastIndexOf('[');
    if (open < 0)
        return {};
    const QString number = TrimSpaces(name.mid(open + 1, name.size() - open - 2));
    if (!IsDigits(number))
        return {};
    base = name.left(open);
    if (base.isEmpty()) {
        base = name;
        return {};
    }
    return number;
}

int SameNameOptionFrom(int index) {
    return index >= SameName::Skip && index <= SameName::OverwriteIfSameSize ? index
                                                                             : SameName::Default;
}

CopyDecision DecideCopy(int option, const QString& source, const QString& target) {
    if (!FileExists(target))
        return CopyDecision::Copy;
    const QFileInfo from(source);
    const QFileInfo to(target);
    switch (SameNameOptionFrom(option)) {
    case SameName::Skip:
        return CopyDecision::Skip;
    case SameName::Overwrite:
        return CopyDecision::Replace;
    case SameName::AutoRename:
        return CopyDecision::Rename;
    case SameName::OverwriteIfSameSize:
        return from.size() == to.size() ? CopyDecision::Replace : CopyDecision::Rename;
    default:
        return from.size() == to.size() && from.lastModified() == to.lastModified()
                   ? CopyDecision::Replace
                   : CopyDecision::Rename;
    }
}

bool CopyFileSafely(const QString& source, const QString& target, bool replace) {
    if (!replace && NameTaken(target))
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QDateTime modified = QFileInfo(source).lastModified();
    QSaveFile out(target);
    // Never write into the target itself: that is what keeps it whole when the copy fails.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (;;) {
        const QByteArray chunk = in.read(kCopyChunk);
        if (chunk.isEmpty())
            break;
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    // A read error ends the loop like the end of the file does.
    if (in.error() != QFileDevice::NoError || !in.atEnd()) {
        out.cancelWriting();
        return false;
    }
    // A copy keeps the original's time, so that the same file copied again is recognised as
    // the same (the size-and-time option).
    // Written out first: a write after the time is set would set it anew.
    if (!out.flush()) {
        out.cancelWriting();
        return false;
    }
    if (modified.isValid())
        out.setFileTime(modified, QFileDevice::FileModificationTime);
    return out.commit();
}

std::optional<QString> CopyWithAutoRename(const QString& source, const QString& targetFolder) {
    if (!FileExists(source))
        return std::nullopt;
    QString extension;
    QString name;
    SplitPath(source, extension, name);
    QString base;
    SplitCopyNumber(name, base);
    const QString folder = WithTrailingSlash(targetFolder);
    const QString suffix = extension.isEmpty() ? QString() : '.' + extension;
    QString candidate = folder + JoinName(FitFileNameComponent(base, suffix), extension);
    for (int n = 1; NameTaken(candidate); ++n) {
        const QString counter = QStringLiteral("[%1]").arg(n, 3, 10, QChar('0'));
        candidate = folder + FitFileNameComponent(base, counter + suffix) + counter + suffix;
    }
    if (!CopyFileSafely(source, candidate, false))
        return std::nullopt;
    return candidate;
}

bool LiesInFolder(const QString& source, const QString& folder) {
    QString extension;
    QString base;
    const QString sourceFolder = SplitPath(source, extension, base);
    if (sourceFolder.isEmpty())
        return false;
    const QString resolved = QFileInfo(sourceFolder).canonicalFilePath();
    return !resolved.isEmpty() && resolved == QFileInfo(folder).canonicalFilePath();
}

CopyOutcome CopyIntoFolder(const QString& source, const QString& targetFolder, int option) {
    CopyOutcome outcome;
    const QString folder = WithTrailingSlash(targetFolder);
    if (LiesInFolder(source, folder)) {
        outcome.decision = CopyDecision::SameFolder;
        return outcome;
    }
    QString extension;
    QString base;
    SplitPath(source, extension, base);
    outcome.target = folder + JoinName(base, extension);
    outcome.decision = DecideCopy(option, source, outcome.target);
    switch (outcome.decision) {
    case CopyDecision::Copy:
        outcome.copied = CopyFileSafely(source, outcome.target, false);
        break;
    case CopyDecision::Replace:
        outcome.copied = CopyFileSafely(source, outcome.target, true);
        break;
    case CopyDecision::Rename:
        if (const std::optional<QString> made = CopyWithAutoRename(source, folder)) {
            outcome.copied = true;
            outcome.target = *made;
        }
        break;
    case CopyDecision::Skip:
    case CopyDecision::SameFolder:
        break;
    }
    return outcome;
}
