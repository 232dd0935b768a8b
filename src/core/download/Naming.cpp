#include "core/download/Naming.h"

#include "core/app/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextBoundaryFinder>

namespace {

// Names are bounded as they would be written in the multibyte code page of the systems the
// program is made for (GBK); GB18030 gives the same bytes for every GBK character and keeps
// the rest.
constexpr int kMaxCleanNameBytes = 250;
constexpr int kMaxHistoryLines = 100;
// The history is a short list of folders; a damaged or foreign file is not read beyond this.
constexpr qint64 kMaxHistoryBytes = 4 * 1024 * 1024;
constexpr int kUniqueBaseLength = 100;

bool IsForbiddenNameCharacter(char16_t c) {
    switch (c) {
    case u'\\':
    case u'/':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        return false;
    }
}

// Control characters cannot be part of a file name where the program comes from, and here
// they would reach terminals and file managers as escape sequences. Bidirectional controls
// let a title display its own text backwards: "report" + U+202E + "fdp.exe" shows as a PDF.
bool IsInvisibleControl(char16_t c) {
    return c < 0x20 || c == 0x7f || c == 0x061c || c == 0x200e || c == 0x200f ||
           (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

QString StripDots(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QChar('.'))
        ++begin;
    while (end > begin && text.at(end - 1) == QChar('.'))
        --end;
    return text.mid(begin, end - begin);
}

QString TrimTrailingSpaces(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QChar(' '))
        --end;
    return text.left(end);
}

// The longest prefix of `text` whose GB18030 form has at most `maxBytes` bytes; whole code
// points only. `text` holds no broken surrogates.
QString LeftByGb18030Bytes(const QString& text, int maxBytes) {
    QStringEncoder encoder("GB18030");
    if (QByteArray(encoder.encode(text)).size() <= maxBytes)
        return text;
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype length = text.at(i).isHighSurrogate() ? 2 : 1;
        const int width = text.at(i).unicode() < 0x80
                              ? 1
                              : int(QByteArray(encoder.encode(text.mid(i, length))).size());
        if (bytes + width > maxBytes)
            break;
        bytes += width;
        i += length;
    }
    return text.left(i);
}

int FileSystemBytes(QStringView text) {
    return int(QFile::encodeName(text.toString()).size());
}

QString DotType(const QString& type) {
    return type.isEmpty() ? QString() : '.' + type;
}

// Trimmed digits only: "2", " 07 ". Signs, exponents and fractions are text, and so is a number
// so large that counting on from it could overflow.
std::optional<qint64> CounterValue(const QString& text) {
    constexpr qint64 kLargestCounterStart = 999'999'999'999'999'999;
    const QString trimmed = TrimSpaces(text);
    if (trimmed.isEmpty())
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c < QChar('0') || c > QChar('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok);
    if (!ok || value > kLargestCounterStart)
        return std::nullopt;
    return value;
}

QString Counter(qint64 value, int digits) {
    return '[' + QString::number(value).rightJustified(digits, '0') + ']';
}

// Anything at the path takes the name: a file, a folder, a link (also one that points
// nowhere, since writing through it would create its target elsewhere).
bool NameTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The file name `base` + counter + suffix, the base shortened to fit. nullopt when such a
// name is not to be used: unusable, or a bare ".type" (a hidden file, or no name at all) left
// when the base is empty and there is no counter.
std::optional<QString> ComposeFileName(const QString& base, const QString& counter,
                                       const QString& suffix, QString* fittedBase = nullptr) {
    const QString fitted = FitFileNameComponent(base, counter + suffix);
    if (fitted.isEmpty() && counter.isEmpty())
        return std::nullopt;
    const QString name = fitted + counter + suffix;
    if (!IsUsableFileName(name))
        return std::nullopt;
    if (fittedBase)
        *fittedBase = fitted + counter;
    return name;
}

} // namespace

QString CleanFileName(const QString& name) {
    QString text;
    text.reserve(name.size());
    for (const QChar c : WithoutBrokenSurrogates(name, std::nullopt)) {
        if (!IsForbiddenNameCharacter(c.unicode()) && !IsInvisibleControl(c.unicode()))
            text.append(c);
    }
    text = StripDots(text);
    text = LeftByGb18030Bytes(text, kMaxCleanNameBytes);
    text = TrimSpaces(text);
    // " .. " would otherwise come out as "..", the parent folder.
    for (;;) {
        const QString again = TrimSpaces(StripDots(text));
        if (again == text)
            return text;
        text = again;
    }
}

QString FileNameFromLink(const QString& link, bool stripExtension) {
    // "\" is an ordinary character of a Linux name but a separator in a Windows-made link.
    QString name = link;
    name.replace('\\', '/');
    name = TrimSpaces(name.mid(name.lastIndexOf('/') + 1));
    if (stripExtension) {
        const qsizetype dot = name.lastIndexOf('.');
        if (dot >= 0)
            name = TrimSpaces(name.left(dot));
    }
    return name;
}

bool IsUsableFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains('/') && !name.contains(QChar(0));
}

QString FitFileNameComponent(const QString& base, const QString& suffix) {
    const int budget = kMaxFileNameBytes - FileSystemBytes(suffix);
    if (FileSystemBytes(base) <= budget || budget <= 0)
        return base;
    // Cut between user-perceived characters, so that an accent stays with its letter.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, base);
    qsizetype kept = 0;
    int bytes = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        const int width = FileSystemBytes(QStringView(base).mid(kept, next - kept));
        if (bytes + width > budget)
            break;
        bytes += width;
        kept = next;
    }
    const QString fitted = TrimTrailingSpaces(base.left(kept));
    // Nothing of the base fits beside this suffix: the name cannot be saved either way.
    return fitted.isEmpty() ? base : fitted;
}

QString UniqueFilePath(const QString& path) {
    // Nothing can be named with a NUL in it, and no variant would mend that.
    if (path.contains(QChar(0)))
        return path;
    const qsizetype slash = path.lastIndexOf('/');
    const QString fileName = path.mid(slash + 1);
    const bool fits = FileSystemBytes(fileName) <= kMaxFileNameBytes;
    if (!NameTaken(path) && IsUsableFileName(fileName) && fits)
        return path;
    if (slash < 0)
        return path;

    const QString folder = path.left(slash + 1);
    const qsizetype dot = fileName.lastIndexOf('.');
    // "name." has an empty extension but still its dot; dropping it could turn "..." into "..".
    const QString suffix = dot >= 0 ? fileName.mid(dot) : QString();
    QString base = dot >= 0 ? fileName.left(dot) : fileName;
    if (base.size() > kUniqueBaseLength) {
        qsizetype cut = kUniqueBaseLength;
        if (base.at(cut - 1).isHighSurrogate())
            --cut;
        base.truncate(cut);
    }
    if (base.endsWith(']')) {
        const qsizetype open = base.lastIndexOf('[');
        if (open >= 0 && CounterValue(base.mid(open + 1, base.size() - open - 2)))
            base.truncate(open);
    }

    for (qint64 counter = 0;; ++counter) {
        const std::optional<QString> name =
            ComposeFileName(base, counter == 0 ? QString() : Counter(counter, 4), suffix);
        if (name && !NameTaken(folder + *name))
            return folder + *name;
    }
}

QString BadFolderNameMessage() {
    return QStringLiteral("文件夹名称有误！不能创建文件夹！");
}

QString MakeFolderPath(const QString& path, const std::function<void(const QString&)>& complain) {
    const auto reportBadName = [&complain] {
        if (complain)
            complain(BadFolderNameMessage());
    };
    // Where no drive letters exist, a path without the root would be made relative to
    // whatever folder the program runs in.
    if (!path.startsWith('/'))
        return {};

    const QStringList parts = path.split('/');
    QString built; // "" is the root
    qsizetype first = 1;
    if (path.startsWith(QLatin1String("//"))) {
        // "//server" is "/server" to Linux; like a server it must be there already, and a
        // name such as ".." must not carry the walk out of what was typed.
        const QString server = parts.value(2);
        const bool existing = IsUsableFileName(server) && FolderExists('/' + server);
        if (server.isEmpty() || (!existing && CleanFileName(server) != server)) {
            reportBadName();
            return {};
        }
        built = '/' + server;
        first = 3;
    }

    for (qsizetype i = first; i < parts.size(); ++i) {
        const QString& typed = parts.at(i);
        if (typed.isEmpty())
            break;
        // A folder that is already there is the one the user means, whatever its name holds
        // (a share mounted as "smb-share:server=x", a hidden ".papers"): only the parts to be
        // created are cleaned. "." and ".." name no folder of their own.
        if (IsUsableFileName(typed) && FolderExists(built + '/' + typed)) {
            built += '/' + typed;
            continue;
        }
        const QString part = FitFileNameComponent(CleanFileName(typed), QString());
        if (part.isEmpty()) {
            reportBadName();
            break;
        }
        built += '/' + part;
        // A level that cannot be made leaves every deeper one unmakeable too.
        if (!FolderExists(built) && !QDir().mkdir(built))
            return {};
    }

    if (built.isEmpty())
        return QStringLiteral("/");
    return FolderExists(built) ? built : QString();
}

std::optional<QStringList> ReadFolderHistory(const QString& filePath) {
    if (!FileExists(filePath))
        return std::nullopt;
    QStringList folders;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return folders;

    QStringDecoder decoder("GB18030");
    QString text = decoder.decode(file.read(kMaxHistoryBytes));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace('\r', '\n');

    QSet<QString> seen;
    int counted = 0;
    for (const QStringView rawLine : QStringView(text).split('\n')) {
        const QString line = TrimSpaces(rawLine.toString());
        if (line.isEmpty())
            continue;
        if (++counted > kMaxHistoryLines)
            break;
        const QString folded = line.toCaseFolded();
        if (seen.contains(folded))
            continue;
        seen.insert(folded);
        folders << line;
    }
    return folders;
}

bool WriteFolderHistory(const QString& filePath, const QStringList& folders) {
    QString text;
    for (const QString& folder : folders)
        text += RemoveLineBreaks(folder) + QLatin1String("\r\n");
    if (folders.isEmpty())
        text = QStringLiteral("\r\n");
    return WriteGb18030File(filePath, text);
}

QString FolderHistoryPath() {
    return ProgramFolder() + QStringLiteral("SaveList.dat");
}

QString TargetFileName(const QString& name, const QString& type) {
    return FitFileNameComponent(name, DotType(type));
}

QString TargetFilePath(const QString& folder, const QString& name, const QString& type) {
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return {};
    const QString fileName = TargetFileName(name, type) + DotType(type);
    if (!IsUsableFileName(fileName))
        return {};
    return WithTrailingSlash(folder) + fileName;
}

QString RenameTargetPath(const QString& folder, const QString& name, const QString& type,
                         bool overwrite, QString& newName) {
    const QString target = TargetFilePath(folder, name, type);
    if (target.isEmpty())
        return {};
    newName = TargetFileName(name, type);
    if (overwrite || !NameTaken(target))
        return target;

    QString base = name;
    qint64 counter = 0;
    const qsizetype open = base.lastIndexOf('[');
    const qsizetype close = base.lastIndexOf(']');
    if (open >= 0 && open < close) {
        // Text after the group goes too: "a[2]b" continues as a[002], a[003], ...
        if (const std::optional<qint64> start =
                CounterValue(base.mid(open + 1, close - open - 1))) {
            counter = *start;
            base.truncate(open);
        }
    }
    // The counter's brackets must stay the only square brackets of the name.
    base.replace('[', QStringLiteral("『"));
    base.replace(']', QStringLiteral("』"));

    const QString folderWithSlash = WithTrailingSlash(folder);
    const QString suffix = DotType(type);
    for (;; ++counter) {
        QString candidateName;
        const std::optional<QString> fileName = ComposeFileName(
            base, counter == 0 ? QString() : Counter(counter, 3), suffix, &candidateName);
        if (fileName && !NameTaken(folderWithSlash + *fileName)) {
            newName = candidateName;
            return folderWithSlash + *fileName;
        }
    }
}
