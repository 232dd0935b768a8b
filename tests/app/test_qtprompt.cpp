#include "ui/platform/QtPrompt.h"

#include "TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace {

// Runs `act` on the modal dialog once it is up; the dialog's own event loop delivers the timer.
void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
            // A check that failed inside `act` must not leave the dialog waiting forever.
            if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible())
                dialog->reject();
        }
    });
    timer->start();
}

} // namespace

class TestQtPrompt : public QObject {
    Q_OBJECT

private slots:
    void messageBoxShowsWhatWasAsked_data() {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("expectedIcon");
        QTest::addColumn<int>("expectedButtons");
        QTest::newRow("error notice?") << int(MsgIcon::Error) << int(MsgButtons::Ok)
                                       << int(QMessageBox::Critical) << int(QMessageBox::Ok);
        QTest::newRow("question?")
            << int(MsgIcon::Question) << int(MsgButtons::YesNo) << int(QMessageBox::Question)
            << int(QMessageBox::Yes | QMessageBox::No);
        QTest::newRow("information with cancel?")
            << int(MsgIcon::Information) << int(MsgButtons::OkCancel)
            << int(QMessageBox::Information) << int(QMessageBox::Ok | QMessageBox::Cancel);
        QTest::newRow("three-way question?")
            << int(MsgIcon::Warning) << int(MsgButtons::YesNoCancel) << int(QMessageBox::Warning)
            << int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    }
    void messageBoxShowsWhatWasAsked() {
        QFETCH(int, icon);
        QFETCH(int, buttons);
        QFETCH(int, expectedIcon);
        QFETCH(int, expectedButtons);
        QString title, text;
        int shownIcon = -1, shownButtons = -1;
        WhenModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            shownIcon = box->icon();
            shownButtons = int(box->standardButtons());
            box->defaultButton()->click();
        });
        QtPrompt prompt;
        const MsgResult result =
            prompt.message(nullptr, "文件不存在！", MsgIcon(icon), MsgButtons(buttons));
        QCOMPARE(title, QString("Quillfetch"));
        QCOMPARE(text, QString("文件不存在！"));
        QCOMPARE(shownIcon, expectedIcon);
        QCOMPARE(shownButtons, expectedButtons);
        // The first button is the default: Ok or Yes.
        QCOMPARE(result, MsgButtons(buttons) == MsgButtons::Ok ||
                                 MsgButtons(buttons) == MsgButtons::OkCancel
                             ? MsgResult::Ok
                             : MsgResult::Yes);
    }

    void messageBoxAnswers_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press"); // a QMessageBox::StandardButton, or 0 for Escape
        QTest::addColumn<int>("expected");
        QTest::newRow("No?") << int(MsgButtons::YesNo) << int(QMessageBox::No)
                             << int(MsgResult::No);
        QTest::newRow("Escape on a question means No?")
            << int(MsgButtons::YesNo) << 0 << int(MsgResult::No);
        QTest::newRow("Cancel?") << int(MsgButtons::YesNoCancel) << int(QMessageBox::Cancel)
                                 << int(MsgResult::Cancel);
        QTest::newRow("Escape on three buttons means Cancel?")
            << int(MsgButtons::YesNoCancel) << 0 << int(MsgResult::Cancel);
        QTest::newRow("Escape on OK/Cancel means Cancel?")
            << int(MsgButtons::OkCancel) << 0 << int(MsgResult::Cancel);
    }
    void messageBoxAnswers() {
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(int, expected);
        QString title;
        WhenModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            title = box->windowTitle();
            if (press == 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(QMessageBox::StandardButton(press))->click();
        });
        QtPrompt prompt;
        QCOMPARE(int(prompt.message(nullptr, "?", MsgIcon::Question, MsgButtons(buttons), "提示")),
                 expected);
        QCOMPARE(title, QString("提示"));
    }

    void inputBox() {
        QtPrompt prompt;
        QString label;
        WhenModal([&](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            QVERIFY(dialog);
            label = dialog->labelText();
            QCOMPARE(dialog->textValue(), QString("old"));
            QCOMPARE(dialog->windowTitle(), QString("Quillfetch"));
            dialog->setTextValue("new text");
            dialog->accept();
        });
        QCOMPARE(prompt.input(nullptr, "名称:", {}, "old"), std::optional<QString>("new text"));
        QCOMPARE(label, QString("名称:"));

        WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        QCOMPARE(prompt.input(nullptr, "名称:", "t", "old"), std::nullopt);
    }

    void folderChooserStartsAtTheFolderAndCancelGivesEmpty() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QtPrompt prompt;
        QString shownFolder, shownTitle;
        WhenModal([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            shownFolder = dialog->directory().absolutePath();
            shownTitle = dialog->windowTitle();
            dialog->reject();
        });
        QCOMPARE(prompt.chooseFolder(nullptr, "请选择要浏览的文件夹:", dir.path() + '/'),
                 QString());
        QCOMPARE(shownFolder, dir.path());
        QCOMPARE(shownTitle, QString("请选择要浏览的文件夹:"));
    }

    // The desktop's locale (here the test's "C") must not show through the program's Chinese.
    void fileDialogColumnsFollowTheProgramsLocale() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        QTemporaryDir dir;
        QVERIFY(dir.isValid() && QDir(dir.path()).mkdir("papers"));
        QFile paper(dir.filePath("a.pdf"));
        QVERIFY(paper.open(QIODevice::WriteOnly) && paper.write(QByteArray(3000, 'x')) == 3000);
        paper.close();
        QStringList shown;
        WhenModal([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            auto* files = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
            QVERIFY(files && dialog->proxyModel());
            const auto cell = [&](const QString& name, int column) {
                const QModelIndex source = files->index(dir.filePath(name), column);
                return dialog->proxyModel()->mapFromSource(source).data().toString();
            };
            QTRY_VERIFY(!cell("a.pdf", 3).isEmpty());
            shown = {cell("papers", 2), cell("a.pdf", 1), cell("a.pdf", 3)};
            dialog->reject();
        });
        QtPrompt prompt;
        QCOMPARE(prompt.openFileName(nullptr, "t", dir.path() + '/'), QString());
        const QLocale chinese;
        QCOMPARE(shown, QStringList({"文件夹", chinese.formattedDataSize(3000),
                                     chinese.toString(QFileInfo(paper).lastModified(),
                                                      QLocale::ShortFormat)}));
        QLocale::setDefault(before);
    }
};

QF_TEST_MAIN(TestQtPrompt)
#include "test_qtprompt.moc"
