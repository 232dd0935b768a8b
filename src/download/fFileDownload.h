#pragma once

#include <QMainWindow>

class QAction;
class QMenu;

// The download manager window.
class fFileDownload : public QMainWindow {
    Q_OBJECT

public:
    fFileDownload();

    void Form_Load();
    void Form_Unload();

    // Repaints the download list now.
    void RefreshList();

    void menu资料检索分析窗口_Click();

    QMenu* menu窗口;
    QAction* menu资料检索分析窗口;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool unloading_ = false;
};
