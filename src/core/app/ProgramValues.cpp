#include "core/app/ProgramValues.h"

#include "core/platform/Clock.h"

ProgramValues& Program() {
    static ProgramValues values;
    return values;
}

AppServices& Services() {
    static AppServices services;
    return services;
}

const Clock& ProgramClock() {
    static const SystemClock fallback;
    const Clock* clock = Services().clock;
    return clock ? *clock : fallback;
}
