#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>

class KeyedListModel;
class QLabel;
class QLineEdit;
class QPushButton;

// Replaces one text by another in the links of every row of the download list: in each
// row's download address (its key) and its referring page (its tag).
class UrlReplace : public QDialog {
    Q_OBJECT

public:
    // `list` is the download list the replacement works on.
    explicit UrlReplace(KeyedListModel* list, QWidget* owner = nullptr);

    void Form_Load();
    void Command1_Click(); // "替换"
    void Command2_Click(); // "取消"

    QLabel* Label1;
    QLineEdit* Text1; // the text to look for
    QLabel* Label2;
    QLineEdit* Text2; // the replacement, may stay empty
    QPushButton* Command1;
    QPushButton* Command2;

    // Asked when "替换" is clicked: true when the replacement must not run now (a transfer
    // started while the dialog was open); it has told the user why. The dialog then closes
    // without a change.
    std::function<bool()> RefusedNow;

private:
    QPointer<KeyedListModel> list_;
};
