#pragma once

#include <QFile>
#include <QStringList>

#include <functional>
#include <sys/inotify.h>
#include <unistd.h>

// The names something was renamed to inside `folder` while `step` ran, from the kernel's own
// record of the folder's changes. Every body takes its name by a rename, so a file put in
// place and removed again within one handler is seen all the same.
inline QStringList RenamedInto(const QString& folder, const std::function<void()>& step) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_MOVED_TO) < 0)
        return {QStringLiteral("no watch")};
    step();
    QStringList names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t length = 0; (length = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            names << QFile::decodeName(event->name);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    ::close(fd);
    return names;
}
