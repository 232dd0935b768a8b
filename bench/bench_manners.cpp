// A run of small files over two sites, one of which pushes back twice, through the download
// window's scheduler and real parallel transfers. Prints the total time against the bound the
// spacing and the pauses imply, and what the servers saw: the narrowest gap between two
// requests to one site and how long the pushing site was left alone after each 429.
//
//   bench_manners [spacing seconds = 1] [files per site = 100] [slots = 6]
//   bench_manners one-site [files = 200] [spacing seconds = 1] [slots = 6]
//
// The one-site run drives the window as the user does (开始下载, its own timers, nothing ticked
// from here): it shows whether starts to one site keep the spacing rather than the scheduler's
// one-second tick. It prints the total against files × spacing, and the mean and largest gap
// between two requests the server saw.
//
// The sites are two local servers, one reached as 127.0.0.1 and one as localhost: sites are
// told apart by host name. The scheduler is ticked every 20 ms (the window's timer ticks once
// a second, which would bound the run at two starts a second whatever the spacing).

#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

namespace {

using Response = TestHttpServer::Response;

constexpr double kRetryAfterSeconds = 5.0;
// The pushing site answers 429 to these requests (1-based).
constexpr int kPushBackAt[] = {10, 60};

struct SiteFigures {
    qint64 narrowestGapMs = -1;
    QList<qint64> pausesMs; // from each 429 to the next request
    int requests = 0;
};

SiteFigures figuresOf(const TestHttpServer& server) {
    SiteFigures figures;
    const QList<TestHttpServer::Request> log = server.requests();
    figures.requests = int(log.size());
    for (qsizetype i = 1; i < log.size(); ++i) {
        const qint64 gap = log[i].receivedMs - log[i - 1].receivedMs;
        if (figures.narrowestGapMs < 0 || gap < figures.narrowestGapMs)
            figures.narrowestGapMs = gap;
        for (int at : kPushBackAt) {
            if (i == at)
                figures.pausesMs.append(gap);
        }
    }
    return figures;
}

// The download window in the parallel mode with `slotCount` slots and the site spacing given.
fFileDownload* parallelWindow(int slotCount, double spacing) {
    fFileDownload* window = Forms::fFileDownload();
    Program().DownloadMode = 2;
    window->Combo1->setCurrentIndex(slotCount - 1);
    window->Pacing().SetMinimumSpacing(spacing);
    return window;
}

int runOneSite(QApplication& app, TestServices& services, int files, double spacing,
               int slotCount) {
    const QByteArray pdf = TestHttpServer::GeneratedBody{4096, "%PDF-1.4\n"}.bytes(0, 4096);
    TestHttpServer server;
    server.setFallback(
        [pdf](const TestHttpServer::Request&) { return Response::bytes(pdf, "application/pdf"); });
    fFileDownload* window = parallelWindow(slotCount, spacing);
    const QString folder = services.dir.path() + '/';
    for (int n = 1; n <= files; ++n)
        window->AddDownloadItem(server.url(QStringLiteral("/f%1.pdf").arg(n)),
                                QStringLiteral("f%1").arg(n), "pdf", folder, QString());
    KeyedListModel& list = *window->ListItems3;
    QElapsedTimer elapsed;
    elapsed.start();
    window->Command4_Click();
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int row = 1; row <= list.Count(); ++row) {
            if (list.SmallIcon(row) < ItemState::Completed)
                return;
        }
        app.quit();
    });
    watch.start();
    app.exec();
    const double totalSeconds = elapsed.elapsed() / 1000.0;

    const int completed = CountDownloadStates(list).completed;
    const QList<TestHttpServer::Request> log = server.requests();
    qint64 largest = 0;
    for (qsizetype i = 1; i < log.size(); ++i)
        largest = std::max(largest, log[i].receivedMs - log[i - 1].receivedMs);
    const double mean =
        log.size() > 1 ? double(log.last().receivedMs - log.first().receivedMs) / (log.size() - 1)
                       : 0.0;
    const double bound = 1.05 * files * spacing;
    std::printf("one site: %d files, %d slots, spacing %.2f s, the window's own timers\n", files,
                slotCount, spacing);
    std::printf("completed: %d of %d\n", completed, int(list.Count()));
    std::printf("total: %.2f s; bound 1.05 x %d x %.2f s = %.2f s (%s)\n", totalSeconds, files,
                spacing, bound, totalSeconds <= bound ? "within" : "OVER");
    std::printf("gaps between requests: mean %.1f ms, largest %lld ms over %d requests\n", mean,
                static_cast<long long>(largest), int(log.size()));
    const bool kept = completed == list.Count() && totalSeconds <= bound;
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return kept ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();

    TestServices services(TestServices::ClockKind::Real);
    Program() = ProgramValues{};
    if (args.size() > 1 && args[1] == QLatin1String("one-site"))
        return runOneSite(app, services, args.size() > 2 ? args[2].toInt() : 200,
                          args.size() > 3 ? args[3].toDouble() : 1.0,
                          args.size() > 4 ? std::clamp(args[4].toInt(), 1, 6) : 6);
    const double spacing = args.size() > 1 ? args[1].toDouble() : 1.0;
    const int perSite = args.size() > 2 ? args[2].toInt() : 100;
    const int slotCount = args.size() > 3 ? std::clamp(args[3].toInt(), 1, 6) : 6;
    const QByteArray pdf = TestHttpServer::GeneratedBody{4096, "%PDF-1.4\n"}.bytes(0, 4096);

    TestHttpServer pushing;
    TestHttpServer plain;
    auto served = std::make_shared<std::atomic<int>>(0);
    pushing.setFallback([served, pdf](const TestHttpServer::Request&) {
        const int n = ++*served;
        for (int at : kPushBackAt) {
            if (n == at)
                return Response::statusPage(429).header(
                    "Retry-After", QByteArray::number(int(kRetryAfterSeconds)));
        }
        return Response::bytes(pdf, "application/pdf");
    });
    plain.setFallback(
        [pdf](const TestHttpServer::Request&) { return Response::bytes(pdf, "application/pdf"); });

    fFileDownload* window = parallelWindow(slotCount, spacing);
    const QString folder = services.dir.path() + '/';
    for (int n = 1; n <= perSite; ++n) {
        window->AddDownloadItem(pushing.url(QStringLiteral("/a%1.pdf").arg(n)),
                                QStringLiteral("a%1").arg(n), "pdf", folder, QString());
        window->AddDownloadItem(
            QStringLiteral("http://localhost:%1/b%2.pdf").arg(plain.port()).arg(n),
            QStringLiteral("b%1").arg(n), "pdf", folder, QString());
    }

    KeyedListModel& list = *window->ListItems3;
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 plainDoneMs = -1;
    QTimer ticks;
    ticks.setInterval(20);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        window->Timer_Down_Timer();
        bool plainDone = true;
        bool allDone = true;
        for (int row = 1; row <= list.Count(); ++row) {
            const bool done = list.SmallIcon(row) >= ItemState::Completed;
            allDone = allDone && done;
            if (!done && list.Key(row).contains(QLatin1String("localhost")))
                plainDone = false;
        }
        if (plainDone && plainDoneMs < 0)
            plainDoneMs = elapsed.elapsed();
        if (allDone)
            app.quit();
    });
    ticks.start();
    app.exec();
    const double totalSeconds = elapsed.elapsed() / 1000.0;

    const int completed = CountDownloadStates(list).completed;
    const SiteFigures a = figuresOf(pushing);
    const SiteFigures b = figuresOf(plain);
    // The pushing site's starts are spaced, except that each 429 puts a pause of its own in
    // place of one spacing; the plain site only waits for its spacing.
    const int pushBacks = int(std::size(kPushBackAt));
    // A pause is never shorter than the first back-off, whatever the server names.
    const double pause = std::max(kRetryAfterSeconds, HostPacing::kFirstBackoffSeconds);
    const double boundPushing = (perSite + pushBacks - 1 - pushBacks) * spacing + pushBacks * pause;
    const double boundPlain = (perSite - 1) * spacing;

    std::printf("files: %d over two sites, %d slots, spacing %.2f s, Retry-After %.0f s twice\n",
                2 * perSite, slotCount, spacing, kRetryAfterSeconds);
    std::printf("completed: %d of %d\n", completed, int(list.Count()));
    std::printf("total: %.2f s; bound from spacing and pauses: %.2f s (overshoot %.2f s)\n",
                totalSeconds, std::max(boundPushing, boundPlain),
                totalSeconds - std::max(boundPushing, boundPlain));
    std::printf("plain site done after %.2f s (bound %.2f s)\n", plainDoneMs / 1000.0, boundPlain);
    std::printf("pushing site: %d requests, narrowest gap %lld ms, pauses after 429:", a.requests,
                static_cast<long long>(a.narrowestGapMs));
    for (qint64 pause : a.pausesMs)
        std::printf(" %lld ms", static_cast<long long>(pause));
    std::printf("\nplain site: %d requests, narrowest gap %lld ms\n", b.requests,
                static_cast<long long>(b.narrowestGapMs));

    // The list goes with its window.
    const bool allCompleted = completed == list.Count();
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return allCompleted ? 0 : 1;
}
