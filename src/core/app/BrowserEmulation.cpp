#include "core/app/BrowserEmulation.h"

#include "core/platform/Registry.h"

void SetBrowserEmulation(Registry& registry, const QString& executableName) {
    const QString valueName = executableName + ".exe";
    const std::optional<QString> stored = registry.readValue(kBrowserEmulationKey, valueName);
    bool ok = false;
    if (stored && stored->trimmed().toUInt(&ok) == kBrowserEmulationLevel && ok)
        return;
    registry.writeDword(kBrowserEmulationKey, valueName, kBrowserEmulationLevel);
}
