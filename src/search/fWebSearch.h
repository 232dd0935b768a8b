#pragma once

#include <QMainWindow>

class QAction;
class QMenu;

// The search window: the embedded browser above, the search list below.
class fWebSearch : public QMainWindow {
    Q_OBJECT

public:
    fWebSearch();

    void Form_Load();
    void Form_Unload();

    // Brings the download window forward when it is loaded; never creates it.
    void 显示下载窗口(bool restore);

    void menu打开下载窗口_Click();
    void menu关闭本窗口_Click();

    // Running loops (paging, analysis runs) stop at their next check when these are set.
    bool StopAddAll = false;
    bool StopAnalysis = true;

    QMenu* menu浏览;
    QMenu* menu工具;
    QAction* menu打开下载窗口;
    QAction* menu关闭本窗口;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool unloading_ = false;
};
