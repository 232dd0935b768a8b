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
    const qsizetype slash = path.lastIndexOf('/');
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
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

bool CopyFileSafely(const QString& source, const QString& target, bool replace, QString* reason) {
    auto fail = [reason](const QString& why, const QFileDevice* device = nullptr) {
        if (reason)
            *reason = device ? why + QStringLiteral("：") + device->errorString() : why;
        return false;
    };
    if (!replace && NameTaken(target))
        return fail(QStringLiteral("目的文件夹中已有同名的文件、文件夹或链接"));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法读取源文件"), &in);
    const QDateTime modified = QFileInfo(source).lastModified();
    QSaveFile out(target);
    // Never write into the target itself: that is what keeps it whole when the copy fails.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("无法在目的文件夹中写入"), &out);
    for (;;) {
        const QByteArray chunk = in.read(kCopyChunk);
        if (chunk.isEmpty())
            break;
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return fail(QStringLiteral("写入目的文件出错"), &out);
        }
    }
    // A read error ends the loop like the end of the file does.
    if (in.error() != QFileDevice::NoError || !in.atEnd()) {
        out.cancelWriting();
        return fail(QStringLiteral("读取源文件出错"), &in);
    }
    // A copy keeps the original's time, so that the same file copied again is recognised as
    // the same (the size-and-time option).
    // Written out first: a write after the time is set would set it anew.
    if (!out.flush()) {
        out.cancelWriting();
        return fail(QStringLiteral("写入目的文件出错"), &out);
    }
    if (modified.isValid())
        out.setFileTime(modified, QFileDevice::FileModificationTime);
    if (!out.commit())
        return fail(QStringLiteral("无法保存目的文件"), &out);
    return true;
}

std::optional<QString> CopyWithAutoRename(const QString& source, const QString& targetFolder,
                                          QString* reason) {
    if (!FileExists(source)) {
        if (reason)
            *reason = QStringLiteral("源文件不存在");
        return std::nullopt;
    }
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
    if (!CopyFileSafely(source, candidate, false, reason))
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
    // The name exactly as it is: a name rebuilt from trimmed parts could be another file's.
    outcome.target = folder + source.mid(source.lastIndexOf('/') + 1);
    outcome.decision = DecideCopy(option, source, outcome.target);
    switch (outcome.decision) {
    case CopyDecision::Copy:
        outcome.copied = CopyFileSafely(source, outcome.target, false, &outcome.failure);
        break;
    case CopyDecision::Replace:
        outcome.copied = CopyFileSafely(source, outcome.target, true, &outcome.failure);
        break;
    case CopyDecision::Rename:
        if (const std::optional<QString> made =
                CopyWithAutoRename(source, folder, &outcome.failure)) {
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

QString CopyRunReport(int copied, const QList<CopyFailure>& failures) {
    QString report = QStringLiteral("复制文件完成！已复制 %1 个文件，失败 %2 个。")
                         .arg(copied)
                         .arg(failures.size());
    for (qsizetype i = 0; i < failures.size() && i < kNamedCopyFailures; ++i) {
        const CopyFailure& failure = failures.at(i);
        report += QStringLiteral("\n复制失败：") + failure.source + QStringLiteral("（") +
                  failure.reason + QStringLiteral("）");
    }
    if (failures.size() > kNamedCopyFailures)
        report += QStringLiteral("\n……另有 %1 个文件复制失败。")
                      .arg(failures.size() - kNamedCopyFailures);
    return report;
}
