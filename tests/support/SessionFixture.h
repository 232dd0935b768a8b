#pragma once

#include "RecordingSound.h"
#include "TestHttpServer.h"
#include "TestServices.h"
#include "WhenReady.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/DownloadSession.h"
#include "core/platform/KeyedListModel.h"

#include <QCoreApplication>
#include <QDir>

#include <functional>
#include <memory>

// A download session as a program run makes it, over the doubles of TestServices, a sound that
// records what it played and a server on 127.0.0.1; no window. Rows save into files/ of the
// temporary folder. The last run's journal is forgotten first, so no case sees another's list.
struct SessionFixture {
    explicit SessionFixture(TestServices::ClockKind clockKind = TestServices::ClockKind::Fake)
        : services(clockKind) {
        Services().sound = &sound;
        Program() = ProgramValues{};
        Program().SearchHomePage = QStringLiteral("about:blank");
        ForgetDownloadJournal(DownloadJournalPath());
        QDir().mkpath(folder());
        open();
    }
    ~SessionFixture() { close(); }
    SessionFixture(const SessionFixture&) = delete;
    SessionFixture& operator=(const SessionFixture&) = delete;

    // The session of the next run: the one before is deleted as the program's end deletes it.
    // `meanwhile` runs between the two, while no session exists.
    void restart(const std::function<void()>& meanwhile = {}) {
        close();
        if (meanwhile)
            meanwhile();
        open();
    }

    QString folder() const { return services.path(QStringLiteral("files/")); }
    KeyedListModel& list() const { return *session->ListItems3; }
    int state(int position) const { return list().SmallIcon(position); }
    QString cell(int position, int column) const { return list().SubItem(position, column); }
    // A waiting row for `path` on the server (or for a whole link); returns its position.
    int addRow(const QString& path, const QString& name = QStringLiteral("paper"),
               const QString& type = QStringLiteral("pdf"), const QString& page = {}) {
        const QString link = path.startsWith(QLatin1String("http")) ? path : server.url(path);
        session->AddDownloadItem(link, name, type, folder(), page);
        return list().PositionOfKey(link);
    }

    TestServices services;
    RecordingSound sound;
    TestHttpServer server;
    std::unique_ptr<DownloadSession> session;

private:
    void open() {
        session = std::make_unique<DownloadSession>();
        session->ReadSiteSpacing();
        session->SetUpJournal();
    }
    void close() {
        if (!session)
            return;
        session.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};
