#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The settings dialog: the transfer mode, the proxy of single-connection transfers, and
// whether extraction asks for a save folder. Every showing loads the current values afresh;
// "确定" stores them and updates an open download window at once.
class fOption : public QDialog {
    Q_OBJECT

public:
    explicit fOption(QWidget* owner = nullptr);

    void Form_Load();
    void Command1_Click(); // "确定"
    void Command2_Click(); // "关闭"

    QLabel* Label1;        // "下载方式："
    QRadioButton* Option1; // mode 1
    QRadioButton* Option2; // mode 2
    QButtonGroup* ModeOptions;
    QCheckBox* Check1; // use the proxy
    QLabel* Label14;   // "地址："
    QLineEdit* Text6;  // proxy host
    QLabel* Label6;    // hint under the address
    QLabel* Label15;   // "端口："
    QLineEdit* Text8;  // proxy port
    QLabel* Label10;   // hint under the port
    QCheckBox* Check2; // ask for the save folder when extracting
    QLabel* Label16;   // "同一网站两次下载的间隔（秒）："
    QSpinBox* Spin1;   // seconds between two starts to one site, 0 to 60
    QPushButton* Command1;
    QPushButton* Command2;
};

// True when the proxy can be used as given: a host and a port from 1 to 65535.
bool IsUsableProxy(const QString& address, const QString& port);
