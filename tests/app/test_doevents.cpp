#include "TestEnvironment.h"

#include "core/platform/DoEvents.h"

#include <QElapsedTimer>
#include <QTimer>

// The two pumps of work and wait loops.
class DoEventsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyWorkStepRunsWhatWasPostedDuringIt() {
        int ran = 0;
        for (int step = 1; step <= 200; ++step) {
            // Something arrives while the step works (a click, a close) ...
            QMetaObject::invokeMethod(
                this, [&ran] { ++ran; }, Qt::QueuedConnection);
            // ... and has run when the step ends, however quickly the steps follow each other.
            KeepResponsive();
            QCOMPARE(ran, step);
        }
    }

    void timersStillGetTheirTurnInAWorkLoop() {
        bool fired = false;
        QTimer::singleShot(0, this, [&fired] { fired = true; });
        QElapsedTimer waited;
        waited.start();
        while (!fired && waited.elapsed() < 2000)
            KeepResponsive();
        QVERIFY(fired);
        QCOMPARE(EventPumpDepth(), 0);
    }

    void aWaitLoopSeesATimerSetFlag() {
        bool done = false;
        QTimer::singleShot(30, this, [&done] {
            done = true;
            QCOMPARE(EventPumpDepth(), 1); // inside the pump
        });
        QElapsedTimer waited;
        waited.start();
        while (!done && waited.elapsed() < 2000)
            DoEvents();
        QVERIFY(done);
    }
};

QF_TEST_GUILESS_MAIN(DoEventsTest)
#include "test_doevents.moc"
