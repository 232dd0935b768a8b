#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// The start-up window. It stays for the whole run: hidden while a working window is open and
// shown again when the last one closes. Unloading it ends the program.
class uXMLHTTP;
struct JournalLoad;

QString JournalNoticeText(const JournalLoad& journal);

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
    QLabel* JournalNotice; // the last run's download list can be restored
    QLabel* Image1;
    QTimer* Timer1;

    // --- new-version check ---
    // Asks the maker's site for the published version; the answer arrives later, and a
    // newer version is shown in Label2.
    void CheckNewVersion();
    void ShowNewVersion(const QString& versionText);
    void uXMLHTTP2_OnDateArrived();
    void uXMLHTTP2_OnDateErr(const QString& statusText);
    void Label2_Click();
    uXMLHTTP* uXMLHTTP2 = nullptr; // made by the first check
    QString NewVersionText;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool unloading_ = false;
};

// Ends the program from any window, as the start-up window's "退出软件" does.
void QuitFromAnyWindow();

// "版本:" followed by major.minor.revision as plain decimal numbers.
QString VersionCaption(int major, int minor, int revision);
