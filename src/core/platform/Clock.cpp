#include "core/platform/Clock.h"

#include <QTime>

SystemClock::SystemClock() {
    started_.start();
}

double SystemClock::secondsSinceMidnight() const {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

double SystemClock::elapsedSeconds() const {
    return started_.nsecsElapsed() / 1e9;
}
