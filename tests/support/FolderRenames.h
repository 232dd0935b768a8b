#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <climits>
#include <sys/inotify.h>
#include <unistd.h>

// The names that something was renamed to inside one folder since the watch began, read from
// the kernel's own record of the folder's changes. Every body takes its name by a rename, so a
// file put in place and removed again within one handler is seen all the same.
class FolderRenames {
public:
    explicit FolderRenames(const QString& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0)
            ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_MOVED_TO);
    }
    ~FolderRenames() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderRenames(const FolderRenames&) = delete;
    FolderRenames& operator=(const FolderRenames&) = delete;

    // The names renamed into the folder since the last call; "no watch" when there is none.
    QStringList Take() {
        if (fd_ < 0)
            return {QStringLiteral("no watch")};
        QStringList names;
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        ssize_t length = 0;
        while ((length = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0)
                    names << QFile::decodeName(event->name);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int fd_ = -1;
};
