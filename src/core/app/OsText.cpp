#include "core/app/OsText.h"

#include "core/app/FileHelpers.h"

#include <QFile>
#include <QSet>

#include <sys/utsname.h>

namespace {

const QString kError = QString::fromLatin1(kOsValueError);

// Registry strings were cut at their first NUL and trimmed; the Linux sources get the same.
QString CleanValue(const QString& value) {
    const qsizetype nul = value.indexOf(QChar(0));
    return TrimSpaces(nul < 0 ? value : value.left(nul));
}

QString ValueOrError(const std::optional<QHash<QString, QString>>& osRelease, const char* key) {
    if (!osRelease)
        return kError;
    const auto it = osRelease->constFind(QString::fromLatin1(key));
    return it == osRelease->constEnd() ? kError : CleanValue(*it);
}

bool ValidKey(const QString& key) {
    if (key.isEmpty())
        return false;
    for (const QChar c : key) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QChar('_'))
            return false;
    }
    return true;
}

// One value in shell syntax: quoted parts lose their quotes, backslash escapes are resolved.
QString UnquoteValue(const QString& raw) {
    QString value;
    enum { Plain, Single, Double } mode = Plain;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        const bool hasNext = i + 1 < raw.size();
        switch (mode) {
        case Plain:
            if (c == QChar('"'))
                mode = Double;
            else if (c == QChar('\''))
                mode = Single;
            else if (c == QChar('\\') && hasNext)
                value += raw.at(++i);
            else
                value += c;
            break;
        case Single:
            if (c == QChar('\''))
                mode = Plain;
            else
                value += c;
            break;
        case Double:
            if (c == QChar('"')) {
                mode = Plain;
            } else if (c == QChar('\\') && hasNext &&
                       QStringLiteral("$\"\\`").contains(raw.at(i + 1))) {
                value += raw.at(++i);
            } else {
                value += c;
            }
            break;
        }
    }
    return value;
}

QString FromCString(const char* text) {
    // utsname fields are NUL-terminated inside fixed arrays.
    return CleanValue(QString::fromUtf8(text));
}

} // namespace

QString OsVersionTextFrom(const OsVersionValues& values, const QString& fallbackEdition) {
    if (values.ProductName == kError)
        return fallbackEdition;
    const QString release = values.ReleaseId != kError ? values.ReleaseId : values.CurrentVersion;
    QString build;
    if (values.UBR != kError)
        build = values.CurrentBuildNumber + '.' + values.UBR;
    else if (values.CSDVersion != kError)
        build = values.BuildLab + QStringLiteral(" : ") + values.CSDVersion;
    else
        build = values.BuildLab;
    return values.ProductName + QStringLiteral(" 版本:") + release + QStringLiteral(" (内部版本:") +
           build + ')';
}

QString SystemTypeFromMachine(const std::optional<QString>& machine) {
    if (!machine)
        return kError;
    return IsSixtyFourBitMachine(*machine) ? QStringLiteral("x64-based PC")
                                           : QStringLiteral("X86-based PC");
}

QString OsBitnessFrom(const QString& systemType, bool runsAs32BitOn64BitKernel) {
    if (systemType.contains(QStringLiteral("x64"), Qt::CaseInsensitive))
        return QStringLiteral("64");
    return runsAs32BitOn64BitKernel ? QStringLiteral("64") : QStringLiteral("32");
}

QString OsTextFrom(const QString& versionText, const QString& bitness) {
    return versionText + '[' + bitness + QStringLiteral("位]");
}

QHash<QString, QString> ParseOsRelease(const QByteArray& content) {
    QHash<QString, QString> values;
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray& bytes : lines) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!ValidKey(key))
            continue;
        values.insert(key, UnquoteValue(line.mid(equals + 1).trimmed()));
    }
    return values;
}

QStringList DefaultOsReleasePaths() {
    return {QStringLiteral("/etc/os-release"), QStringLiteral("/usr/lib/os-release")};
}

std::optional<QHash<QString, QString>> ReadOsRelease(const QStringList& paths) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            return ParseOsRelease(file.readAll());
    }
    return std::nullopt;
}

std::optional<UnameValues> ReadUname() {
    utsname names{};
    if (uname(&names) != 0)
        return std::nullopt;
    return UnameValues{FromCString(names.sysname), FromCString(names.release),
                       FromCString(names.machine)};
}

OsVersionValues OsVersionValuesFrom(const std::optional<QHash<QString, QString>>& osRelease,
                                    const std::optional<UnameValues>& uname) {
    OsVersionValues values;
    values.ProductName = ValueOrError(osRelease, "NAME");
    values.CurrentVersion = ValueOrError(osRelease, "VERSION");
    values.ReleaseId = ValueOrError(osRelease, "VERSION_ID");
    values.UBR = ValueOrError(osRelease, "BUILD_ID");
    if (uname) {
        values.CurrentBuildNumber = CleanValue(uname->release);
        values.BuildLab = CleanValue(uname->sysname + ' ' + uname->release);
    }
    values.CSDVersion = kError;
    return values;
}

QString FallbackEditionFrom(const std::optional<UnameValues>& uname) {
    if (!uname)
        return QStringLiteral("Linux");
    return CleanValue(uname->sysname + ' ' + uname->release);
}

bool IsSixtyFourBitMachine(const QString& machine) {
    static const QSet<QString> sixtyFourBit = {
        QStringLiteral("x86_64"),      QStringLiteral("amd64"),  QStringLiteral("aarch64"),
        QStringLiteral("aarch64_be"),  QStringLiteral("arm64"),  QStringLiteral("ppc64"),
        QStringLiteral("ppc64le"),     QStringLiteral("s390x"),  QStringLiteral("riscv64"),
        QStringLiteral("loongarch64"), QStringLiteral("mips64"), QStringLiteral("mips64el"),
        QStringLiteral("sparc64"),     QStringLiteral("alpha"),  QStringLiteral("ia64"),
        QStringLiteral("parisc64")};
    return sixtyFourBit.contains(CleanValue(machine).toLower());
}

bool RunsAs32BitOn64BitKernel() {
    if (sizeof(void*) >= 8)
        return false;
    // Under the linux32 personality uname names a 32-bit machine; the kernel's own architecture
    // is still visible here on recent kernels.
    QFile arch(QStringLiteral("/proc/sys/kernel/arch"));
    if (arch.open(QIODevice::ReadOnly) &&
        IsSixtyFourBitMachine(QString::fromUtf8(arch.readAll()).trimmed()))
        return true;
    const std::optional<UnameValues> names = ReadUname();
    return names && IsSixtyFourBitMachine(names->machine);
}

QString OsVersionText(const QStringList& osReleasePaths) {
    const std::optional<UnameValues> names = ReadUname();
    return OsVersionTextFrom(OsVersionValuesFrom(ReadOsRelease(osReleasePaths), names),
                             FallbackEditionFrom(names));
}

QString OsBitness() {
    const std::optional<UnameValues> names = ReadUname();
    const std::optional<QString> machine =
        names ? std::optional<QString>(names->machine) : std::nullopt;
    return OsBitnessFrom(SystemTypeFromMachine(machine), RunsAs32BitOn64BitKernel());
}

QString OsText() {
    return OsTextFrom(OsVersionText(), OsBitness());
}
