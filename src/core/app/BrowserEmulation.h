#pragma once

#include <QString>

class Registry;

inline constexpr quint32 kBrowserEmulationLevel = 10001;
inline constexpr const char kBrowserEmulationKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
    "FEATURE_BROWSER_EMULATION";

// Records the rendering level for the program's embedded browsers under the executable's
// name + ".exe", writing only when the stored value differs (a missing or unreadable value
// differs). Failures are ignored: start-up goes on.
void SetBrowserEmulation(Registry& registry, const QString& executableName);
