#include "download/fFileDownload.h"

#include "app/Forms.h"
#include "app/Version.h"
#include "app/fCover.h"
#include "search/fWebSearch.h"

#include <QCloseEvent>
#include <QMenuBar>

fFileDownload::fFileDownload() {
    setWindowTitle(QStringLiteral("文件下载"));
    menu窗口 = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    menu资料检索分析窗口 = menu窗口->addAction(QStringLiteral("资料检索分析窗口"));
    connect(menu资料检索分析窗口, &QAction::triggered, this,
            [this] { menu资料检索分析窗口_Click(); });
    resize(1000, 680);
}

void fFileDownload::Form_Load() {
    setWindowTitle(QStringLiteral("文件下载") + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());
}

void fFileDownload::RefreshList() {
    update();
}

void fFileDownload::menu资料检索分析窗口_Click() {
    if (::fWebSearch* search = Forms::fWebSearch())
        search->show();
}

void fFileDownload::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloading_)
        return;
    unloading_ = true;
    Form_Unload();
}

void fFileDownload::Form_Unload() {
    Forms::Unloaded(this);
    if (!IsFormLoaded(QStringLiteral("fWebSearch"))) {
        if (::fCover* cover = Forms::fCover())
            cover->show();
    }
}
