#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Runs `action` once, from the event loop a transfer waits in, as soon as `ready` holds.
inline void WhenReady(QObject* owner, std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, ready, action] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}
