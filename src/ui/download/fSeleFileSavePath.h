#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

// Asks for the save folder and the naming rule before records go to the download list.
// Callers show it modally (ShowModal) and read Program().SaveFolderCancelled, UseLinkFileName
// and DefaultSaveFolder afterwards. Each showing is a new dialog, so it always starts from
// its design state.
class fSeleFileSavePath : public QDialog {
    Q_OBJECT

public:
    explicit fSeleFileSavePath(QWidget* owner = nullptr);

    // Creates the dialog, loads it, runs it modally and deletes it.
    static void ShowModal(QWidget* owner);

    void Form_Load();
    void Command1_Click(); // "..."
    void Command2_Click(); // "确定"
    void Command3_Click(); // "取消"

    // The folder history file; read by Form_Load and rewritten by 确定. Set it before
    // Form_Load to use another file than the one in the program's folder.
    QString HistoryFile;

    QLabel* Label1;        // "保存到文件夹："
    QComboBox* Combo1;     // the folder; its list is the folder history
    QPushButton* Command1; // "..."
    QLabel* Label3;        // "保存文件名为："
    QRadioButton* Option1; // "原文件名"
    QRadioButton* Option2; // "文章标题名称"
    QPushButton* Command2; // "确定"
    QPushButton* Command3; // "取消"
};
