#pragma once

#include "core/platform/Clock.h"

// A clock the test moves by hand. Both readings move together; the wall clock wraps at
// midnight like the real one, the elapsed time never does.
class FakeClock : public Clock {
public:
    explicit FakeClock(double secondsSinceMidnight = 36000.0) : wall_(secondsSinceMidnight) {}
    double secondsSinceMidnight() const override { return wall_; }
    double elapsedSeconds() const override { return elapsed_; }
    // Moves with the elapsed time from a fixed moment, so a test may save and restore state.
    QDateTime utcNow() const override {
        return QDateTime(QDate(2026, 12, 10), QTime(0, 0), Qt::UTC)
            .addMSecs(qint64((before_ + elapsed_) * 1000));
    }
    // A new run of the program: the elapsed time starts again, the wall clock goes on.
    void restart() {
        before_ += elapsed_;
        elapsed_ = 0.0;
    }

    void advance(double seconds) {
        elapsed_ += seconds;
        wall_ += seconds;
        while (wall_ >= 86400.0)
            wall_ -= 86400.0;
    }
    void setSecondsSinceMidnight(double seconds) { wall_ = seconds; }

private:
    double wall_;
    double elapsed_ = 0.0;
    double before_ = 0.0;
};
