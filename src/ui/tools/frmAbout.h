#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: the product, its version, the program's page where the maker publishes
// one, and the system information.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* owner = nullptr);

    void Form_Load();
    void cmdSysInfo_Click(); // "系统信息..."
    void cmdOK_Click();      // "确定"

    QLabel* Image1;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblDisclaimer;
    // The program's page; hidden while there is none.
    QLabel* lblLink;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
};
