#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// The start-up window. It stays for the whole run: hidden while a working window is open and
// shown again when the last one closes. Unloading it ends the program.
class fCover : public QWidget {
    Q_OBJECT

public:
    fCover();

    void Form_Load();
    void Timer1_Timer();
    void Command1_Click();
    void Command3_Click();
    void Form_Unload();

    QPushButton* Command1; // "文献检索下载"
    QPushButton* Command3; // "退出软件"
    QLabel* Label1;        // version
    QLabel* Label2;        // new-version notice
    QLabel* Label4;        // fixed notice
    QLabel* Image1;
    QTimer* Timer1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool unloading_ = false;
};

// "版本:" followed by major.minor.revision as plain decimal numbers.
QString VersionCaption(int major, int minor, int revision);
