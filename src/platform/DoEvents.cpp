#include "platform/DoEvents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

constexpr int kWaitSliceMs = 15;
constexpr qint64 kResponsiveIntervalMs = 30;

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
    static QElapsedTimer sinceLast;
    if (sinceLast.isValid() && sinceLast.elapsed() < kResponsiveIntervalMs)
        return;
    DepthGuard guard;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    sinceLast.start();
}

int EventPumpDepth() {
    return g_depth;
}
