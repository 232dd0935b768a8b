// Prints how long the download list's commands take through the window's own handlers on a
// shown window, the one repaint included: sorting, shuffling, re-queueing, removing rows and
// checking files. Each round works on a freshly filled list, which is not timed.
// Run: QT_QPA_PLATFORM=offscreen ./bench_commands [rows ...]   (default 2000 20000)

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 11;

// A list as it looks after a run: half completed, a fifth failed, some web pages, the rest
// waiting; every third row selected. The folder exists and holds none of the files, so each
// file test is a real look at the disk.
void fill(fFileDownload& window, int rows, const QString& folder) {
    KeyedListModel& list = *window.ListItems3;
    list.Clear();
    for (int i = 0; i < rows; ++i) {
        window.AddDownloadItem(
            QString("https://www.science.org/doi/pdf/10.1126/science.%1").arg(i, 7, 10, QChar('0')),
            QString("Article title number %1").arg((i * 7919) % rows), "pdf", folder,
            "https://www.science.org/action/doSearch?startPage=1");
        const int position = list.Count();
        const QString size = QString::number(1000 + (i * 104729) % 5000000);
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
            list.SetSmallIcon(position, ItemState::Completed);
            list.SetSubItem(position, DownloadColumn::Size, size);
            list.SetSubItem(position, DownloadColumn::Received, size);
            list.SetSubItem(position, DownloadColumn::Percent, "100%");
            break;
        case 5:
        case 6:
            list.SetSmallIcon(position, ItemState::Failed);
            list.SetSubItem(position, DownloadColumn::Size, size);
            list.SetSubItem(position, DownloadColumn::Received, QString::number(i % 1000));
            list.SetSubItem(position, DownloadColumn::Percent, QString("%1%").arg(i % 100));
            break;
        case 7:
            list.SetSmallIcon(position, ItemState::Completed);
            list.SetSubItem(position, DownloadColumn::Type, "htm");
            list.SetSubItem(position, DownloadColumn::Size, "未知");
            break;
        default:
            break; // waiting
        }
        if (i % 3 == 0)
            list.SetSelected(position, true);
    }
    list.Refresh();
}

void report(QApplication& app, fFileDownload& window, int rows, const QString& folder,
            const char* what, const std::function<void()>& run) {
    std::vector<qint64> times;
    QElapsedTimer timer;
    for (int round = 0; round < kRounds; ++round) {
        fill(window, rows, folder);
        app.processEvents();
        timer.start();
        run();
        app.processEvents(); // the one repaint
        times.push_back(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-36s min %9.3f ms   median %9.3f ms\n", what, times.front() / 1e6,
                times[times.size() / 2] / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {2000, 20000};

    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    fFileDownload* window = Forms::fFileDownload();
    window->show();
    app.processEvents();

    for (const int rows : sizes) {
        std::printf("download list, %d rows, %d rounds each\n", rows, kRounds);
        auto bench = [&](const char* what, const std::function<void()>& run) {
            report(app, *window, rows, folder, what, run);
        };
        bench("sort by 文件大小 (twelve-digit rewrite)", [&] { window->ListView3_ColumnClick(2); });
        bench("sort by 百分比", [&] { window->ListView3_ColumnClick(4); });
        bench("sort by 名称", [&] { window->ListView3_ColumnClick(0); });
        bench("ShuffleList", [&] { window->ShuffleList(false); });
        bench("重新下载 出错项", [&] { window->menu重新下载出错项_Click(); });
        bench("重新下载 选中项", [&] { window->menu重新下载选中项_Click(); });
        bench("重新下载 出错项和网页类型文件项",
              [&] { window->menu重新下载出错项和网页项_Click(); });
        bench("清除 完成项", [&] { window->menu清除完成项_Click(); });
        bench("清除 选中项", [&] { window->menu清除选中项_Click(); });
        bench("删除文件 出错项", [&] { window->menu删除出错项_Click(); });
        bench("检查文件是否存在", [&] { window->menu检查文件是否存在_Click(); });
    }

    Forms::DestroyAll();
    return 0;
}
