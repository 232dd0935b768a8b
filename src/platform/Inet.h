#pragma once

#include <QObject>

// The single-connection transfer control of the download window: one request at a time over
// one streaming reply, through an HTTP proxy of its own when one is set.
class Inet : public QObject {
    Q_OBJECT

public:
    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    // True from Execute until the response has completed, failed or been cancelled.
    bool StillExecuting() const;
    // Abandons the running request, if any; safe to call at any time, also twice.
    void Cancel();

signals:
    // The control's state, 0 to 12.
    void StateChanged(int state);
};
