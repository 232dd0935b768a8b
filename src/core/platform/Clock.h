#pragma once

#include <QDateTime>
#include <QElapsedTimer>

// Time as the program needs it. Shown or stored clock times are seconds since midnight;
// every rule that measures a span uses the monotonic elapsed time, so nothing times out
// falsely when the wall clock passes midnight or is set back.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double secondsSinceMidnight() const = 0;
    virtual double elapsedSeconds() const = 0;
    // The wall-clock time, for what must outlive the program (a site's pause is kept with the
    // moment it ends).
    virtual QDateTime utcNow() const { return QDateTime::currentDateTimeUtc(); }
};

class SystemClock : public Clock {
public:
    SystemClock();
    double secondsSinceMidnight() const override;
    double elapsedSeconds() const override;

private:
    QElapsedTimer started_;
};
