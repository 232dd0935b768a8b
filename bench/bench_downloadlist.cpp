// Prints how long the download window's once-a-second counters take on a long list: the
// status-bar counts by state and the count of rows not yet downloaded.
// Run: QT_QPA_PLATFORM=offscreen ./bench_downloadlist [rows]

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 51;

// A list as it looks halfway through a run: most rows done, some failed with a status word,
// a few running, the rest waiting and untouched.
void fill(fFileDownload& window, int rows) {
    KeyedListModel& list = *window.ListItems3;
    for (int i = 0; i < rows; ++i) {
        window.AddDownloadItem(
            QString("https://www.science.org/doi/pdf/10.1126/science.%1").arg(i, 7, 10, QChar('0')),
            QString("Article title number %1").arg(i), "pdf", "/home/user/Downloads/Quillfetch/",
            "https://www.science.org/action/doSearch?startPage=1");
        const int position = list.Count();
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
            list.SetSmallIcon(position, ItemState::Completed);
            list.SetSubItem(position, DownloadColumn::Size, "1048576");
            list.SetSubItem(position, DownloadColumn::Received, "1048576");
            list.SetSubItem(position, DownloadColumn::Percent, "100%");
            break;
        case 5:
            list.SetSmallIcon(position, ItemState::Failed);
            list.SetSubItem(position, DownloadColumn::Size, "下载失败");
            break;
        case 6:
            list.SetSmallIcon(position, ItemState::Downloading);
            list.SetSubItem(position, DownloadColumn::Received, "4096");
            break;
        default:
            break; // waiting, never started
        }
    }
    list.Refresh();
}

void report(const char* what, const std::function<void()>& run) {
    std::vector<qint64> times;
    QElapsedTimer timer;
    for (int round = 0; round < kRounds; ++round) {
        timer.start();
        run();
        times.push_back(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-40s min %8.3f ms   median %8.3f ms\n", what, times.front() / 1e6,
                times[times.size() / 2] / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;

    fFileDownload* window = Forms::fFileDownload();
    fill(*window, rows);
    window->show();
    app.processEvents();
    std::printf("download list, %d rows, %d rounds each\n", window->ListItems3->Count(), kRounds);

    report("UpdateStatusCounts", [window] { window->UpdateStatusCounts(); });
    int notDownloaded = 0;
    report("统计未下载项数目", [&] { notDownloaded = window->统计未下载项数目(); });
    report("检测是否下载列表完毕 (an open row early)",
           [window] { (void)window->检测是否下载列表完毕(); });
    std::printf("  panel 4: %s\n  not downloaded: %d\n",
                window->StatusPanel4->text().toUtf8().constData(), notDownloaded);

    Forms::DestroyAll();
    return 0;
}
