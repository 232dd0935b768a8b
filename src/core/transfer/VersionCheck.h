#pragma once

#include <QString>

#include <optional>

// The new-version check: where the maker publishes the version file and the program's page,
// and how a published version compares with this program's own.

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The executable's file name without its extension ("quillfetch").
QString ProgramFileName();

// "http://<host>/<program>/newver.txt" and "http://<host>/<program>/"; "" when `host` is
// empty, so that nothing is fetched or opened while the maker's site is unknown.
QString VersionFileAddress(const QString& host, const QString& programName);
QString ProgramPageAddress(const QString& host, const QString& programName);

// The text of a version file worth comparing: the reply without leading and trailing spaces
// (a line break stays), or nullopt when that is empty or 11 characters or longer.
std::optional<QString> VersionFileText(const QString& responseText);

// major * 10000000 + minor * 10000 + revision, each part a single-precision number and the
// sum rounded to single precision. Above 2^24 neighbouring revisions fall together: 2.0.0 and
// 2.0.1 give the same number.
float VersionNumber(float major, float minor, float revision);

// The number of a version text of exactly three dot-separated whole numbers (blanks around
// a part allowed); nullopt for anything else ("1.2", "1.2.3.4", "V1.2.3", "1..3").
std::optional<float> PublishedVersionNumber(const QString& versionText);

// True when `versionText` names a version whose number is greater than `own`'s.
bool IsNewerVersion(const QString& versionText, const ProgramVersion& own);
