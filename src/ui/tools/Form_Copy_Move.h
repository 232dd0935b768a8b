#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>

class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

// Copies a list of files into one folder, with a rule for names that already exist there,
// progress and a start/stop button. The target folder is typed or picked, made when missing
// and remembered in the folder history.
class Form_Copy_Move : public QDialog {
    Q_OBJECT

public:
    explicit Form_Copy_Move(QWidget* owner = nullptr);

    // The opening sequence: load, take the files, name their number in the caption, run
    // modally; the dialog is deleted afterwards.
    static void ShowModal(QWidget* owner, const QStringList& files);

    void Form_Load();
    void Command1_Click(); // "开始" / "停止"
    void Command2_Click(); // "关闭"
    void Command3_Click(); // "浏览"
    // A click on the same-name option `index` (1 to 5).
    void Option1_Click(int index);

    // Copies `source` into `targetFolder` under the first free numbered name; true when a
    // copy was made.
    bool 复制相同文件自动重命名(const QString& source, const QString& targetFolder);
    // Starts a copy run, or stops the one in progress.
    void 执行(bool showMessage);

    bool Running() const { return running_; }
    int SameNameOption() const { return sameNameOption_; }

    // The files to copy, filled by the opener before the dialog is shown.
    QStringList SourceFiles;
    // The target folder, ending with "/"; set from the folder box when a run starts.
    QString TargetFolder;
    // The folder history; Form_Load reads it and a run writes it. Set it before Form_Load to
    // use another file than the one in the program's folder.
    QString HistoryFile;

    QLabel* Label1;        // "目的文件夹："
    QComboBox* Combo1;     // the target folder; its list is the folder history
    QPushButton* Command3; // "浏览"
    QGroupBox* Frame1;     // "如果同名文件已经存在"
    // Option1[1] to Option1[5]; Option1[0] is unused.
    std::array<QRadioButton*, 6> Option1{};
    QLabel* Label2; // "进度;"
    QProgressBar* ProgressBar1;
    QLabel* Label4;        // "当前文件："
    QLabel* Label3;        // the file in work
    QPushButton* Command1; // "开始" / "停止"
    QPushButton* Command2; // "关闭"

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void run(bool showMessage);

    bool running_ = false;
    int sameNameOption_ = 4;
    // The dialog was closed; a run in progress ends before its next file.
    bool closed_ = false;
};
