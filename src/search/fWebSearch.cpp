#include "search/fWebSearch.h"

#include "app/Forms.h"
#include "app/Version.h"
#include "app/fCover.h"
#include "download/fFileDownload.h"
#include "platform/DoEvents.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>

fWebSearch::fWebSearch() {
    setWindowTitle(QStringLiteral("Science数据检索分析"));
    menu浏览 = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    menu关闭本窗口 = menu浏览->addAction(QStringLiteral("关闭本窗口"));
    menu工具 = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    menu打开下载窗口 = menu工具->addAction(QStringLiteral("打开下载窗口"));
    connect(menu打开下载窗口, &QAction::triggered, this, [this] { menu打开下载窗口_Click(); });
    connect(menu关闭本窗口, &QAction::triggered, this, [this] { menu关闭本窗口_Click(); });
    resize(1100, 760);
    setMinimumSize(640, 480);
}

void fWebSearch::Form_Load() {
    setWindowTitle(QStringLiteral("Science数据检索分析") + '-' +
                   QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());
    StopAnalysis = true;
}

void fWebSearch::menu打开下载窗口_Click() {
    if (::fFileDownload* download = Forms::fFileDownload())
        download->show();
}

void fWebSearch::menu关闭本窗口_Click() {
    Forms::Unload(this);
}

void fWebSearch::显示下载窗口(bool restore) {
    auto* download = qobject_cast<::fFileDownload*>(Forms::Find(QStringLiteral("fFileDownload")));
    if (!download)
        return;
    download->RefreshList();
    if (!download->isVisible())
        download->show();
    if (restore && download->isMinimized())
        download->showNormal();
}

void fWebSearch::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloading_)
        return;
    unloading_ = true;
    Form_Unload();
}

void fWebSearch::Form_Unload() {
    StopAddAll = true;
    StopAnalysis = true;
    QPointer<fWebSearch> self(this);
    // Let running loops see the stop flags and wind down before the window goes.
    DoEvents();
    if (!self)
        return;
    Forms::Unloaded(this);
    if (!IsFormLoaded(QStringLiteral("fFileDownload"))) {
        if (::fCover* cover = Forms::fCover())
            cover->show();
    }
}
