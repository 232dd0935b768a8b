#include "core/platform/DoEvents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

constexpr int kWaitSliceMs = 15;
// One frame of a 60 Hz display.
constexpr qint64 kTimersEveryMs = 16;

int g_depth = 0;

struct DepthGuard {
    DepthGuard() { ++g_depth; }
    ~DepthGuard() { --g_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

} // namespace

void DoEvents() {
    if (!QCoreApplication::instance())
        return;
    DepthGuard guard;
    // The timer bounds the wait: WaitForMoreEvents returns once something was dispatched,
    // and this timer's own event is such a thing.
    QTimer slice;
    slice.setSingleShot(true);
    slice.start(kWaitSliceMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void KeepResponsive() {
    if (!QCoreApplication::instance())
        return;
    // Every call runs what is pending: a stop pressed (or posted) while one row was processed
    // is seen right after that row. Timers only get their turn once a frame: they are due by
    // the clock anyway, and they carry the costly part of a step's aftermath (a list view
    // lays out all its rows on a zero timer after each insertion, so letting it run after
    // every one of 20,000 insertions would make the loop quadratic).
    static QElapsedTimer sinceTimers;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (sinceTimers.isValid() && sinceTimers.elapsed() < kTimersEveryMs)
        flags |= QEventLoop::X11ExcludeTimers;
    else
        sinceTimers.start();
    DepthGuard guard;
    QCoreApplication::processEvents(flags);
}

int EventPumpDepth() {
    return g_depth;
}

namespace {
bool g_quitRequested = false;
} // namespace

void RequestQuit() {
    g_quitRequested = true;
}

bool QuitRequested() {
    return g_quitRequested;
}
