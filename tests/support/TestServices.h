#pragma once

#include "FakeClock.h"
#include "RecordingShell.h"
#include "ScriptedPrompt.h"

#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/platform/Clock.h"
#include "core/platform/Registry.h"

#include <QTemporaryDir>

// The desktop doubles a window test runs against: a scripted prompt, a clock (fake, or the
// real one for tests that wait on the real browser), a recording shell, and a registry and
// settings store in a temporary folder. Constructing it installs them into Services().
struct TestServices {
    enum class ClockKind { Fake, Real };

    explicit TestServices(ClockKind clockKind = ClockKind::Fake)
        : registry(dir.path() + "/registry.ini"), settings(dir.path()) {
        Services() = AppServices{&prompt,
                                 clockKind == ClockKind::Real ? static_cast<Clock*>(&realClock)
                                                              : static_cast<Clock*>(&clock),
                                 &shell, &registry, &settings};
    }
    ~TestServices() { Services() = AppServices{}; }
    TestServices(const TestServices&) = delete;
    TestServices& operator=(const TestServices&) = delete;

    QString path(const QString& name) const { return dir.path() + '/' + name; }

    QTemporaryDir dir;
    ScriptedPrompt prompt;
    FakeClock clock;
    SystemClock realClock;
    RecordingShell shell;
    IniRegistry registry;
    SettingsStore settings;
};
