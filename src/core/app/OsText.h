#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The text that names the operating system, its release, build and bitness, for example
// "Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0-18-amd64)[64位]".
//
// The composition works on the classic version values; on Linux they are read as follows, each
// one "Error" when its source is missing or unreadable, string values cut at their first NUL and
// trimmed of spaces:
//   ProductName        <- os-release NAME
//   CurrentVersion     <- os-release VERSION
//   ReleaseId          <- os-release VERSION_ID
//   CurrentBuildNumber <- uname release
//   UBR                <- os-release BUILD_ID
//   BuildLab           <- uname sysname + " " + release
//   CSDVersion         <- always "Error" (Linux has no service packs)
// os-release is /etc/os-release, or /usr/lib/os-release when that cannot be read.

inline constexpr const char kOsValueError[] = "Error";

struct OsVersionValues {
    QString ProductName = kOsValueError;
    QString CurrentVersion = kOsValueError;
    QString CurrentBuildNumber = kOsValueError;
    QString ReleaseId = kOsValueError;
    QString BuildLab = kOsValueError;
    QString CSDVersion = kOsValueError;
    QString UBR = kOsValueError;
};

struct UnameValues {
    QString sysname; // "Linux"
    QString release; // "6.1.0-18-amd64"
    QString machine; // "x86_64"
};

// --- Composition over values already read ---

// "ProductName 版本:Release (内部版本:Build)", or `fallbackEdition` when ProductName is "Error".
QString OsVersionTextFrom(const OsVersionValues& values, const QString& fallbackEdition);

// The computer's system type as the management query would name it: "x64-based PC" for a
// 64-bit machine architecture, "X86-based PC" for any other, "Error" without one.
QString SystemTypeFromMachine(const std::optional<QString>& machine);

// "64" when `systemType` contains "x64" (letter case ignored), else "64" when the process is a
// 32-bit build running on a 64-bit kernel, else "32".
QString OsBitnessFrom(const QString& systemType, bool runsAs32BitOn64BitKernel);

// The whole text: version text & "[" & bitness & "位]".
QString OsTextFrom(const QString& versionText, const QString& bitness);

// --- Readers of the running system ---

// The KEY=VALUE pairs of an os-release file: comments and blank lines skipped, single or double
// quotes removed (with the shell's backslash escapes inside double quotes).
QHash<QString, QString> ParseOsRelease(const QByteArray& content);

// "/etc/os-release", then "/usr/lib/os-release".
QStringList DefaultOsReleasePaths();

// The first of `paths` that can be read, parsed; nullopt when none can.
std::optional<QHash<QString, QString>>
ReadOsRelease(const QStringList& paths = DefaultOsReleasePaths());

// uname(2), or nullopt when it fails.
std::optional<UnameValues> ReadUname();

// The version values from what was read, by the mapping above.
OsVersionValues OsVersionValuesFrom(const std::optional<QHash<QString, QString>>& osRelease,
                                    const std::optional<UnameValues>& uname);

// The edition text used when there is no product name: "Linux 6.1.0-18-amd64", or "Linux" when
// uname fails.
QString FallbackEditionFrom(const std::optional<UnameValues>& uname);

// True when a machine architecture name (uname's machine field) is a 64-bit one.
bool IsSixtyFourBitMachine(const QString& machine);

// True when this process is a 32-bit build running on a 64-bit kernel.
bool RunsAs32BitOn64BitKernel();

// The running system's texts.
QString OsVersionText(const QStringList& osReleasePaths = DefaultOsReleasePaths());
QString OsBitness();
QString OsText();
