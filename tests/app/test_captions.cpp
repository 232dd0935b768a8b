#include "LayoutCheck.h"
#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/platform/KeyedListModel.h"
#include "ui/app/Application.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"
#include "ui/download/fFileDownload.h"
#include "ui/download/fSeleFileSavePath.h"
#include "ui/search/fWebSearch.h"
#include "ui/tools/Form_Copy_Move.h"
#include "ui/tools/UrlReplace.h"
#include "ui/tools/fIEcache.h"
#include "ui/tools/fOption.h"
#include "ui/tools/frmAbout.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <functional>
#include <memory>

namespace {

// English words the user may rightly see: names of the program, the journal, formats and
// units. Everything else a window shows is Chinese.
const QRegularExpression kAllowedWords(QStringLiteral(
    R"(\b(Quillfetch|Science|Cookie|PDF|HTML?|RIS|BibTeX|CSL-JSON|JSON|DOI|KB|MB|GB|M|ms|s)\b)"));
const QRegularExpression kAddress(QStringLiteral(R"(\S+://\S*|www\.\S+|\S+@\S+)"));

// True when the text is a caption that only a reader of English understands.
bool isEnglishOnly(QString text) {
    text.remove(QRegularExpression(QStringLiteral(R"(\(&.\)|&)")));
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return false;
    }
    text.remove(kAddress);
    text.remove(kAllowedWords);
    return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
}

// Every text the window can show: its title, captions, menus, tool tips, list headers and
// the entries of its drop-downs.
QStringList visibleTexts(QWidget* window) {
    QStringList texts{window->windowTitle(), window->toolTip()};
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        texts << widget->toolTip();
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            texts << button->text();
        if (auto* label = qobject_cast<QLabel*>(widget))
            texts << QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            texts << group->title();
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            texts << edit->placeholderText();
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        }
        if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
            for (int column = 0; column < view->model()->columnCount(); ++column)
                texts << view->model()->headerData(column, Qt::Horizontal).toString();
        }
    }
    for (QAction* action : window->findChildren<QAction*>())
        texts << action->text() << action->toolTip();
    texts.removeAll(QString());
    return texts;
}

} // namespace

// What each window shows is Chinese, Qt's own buttons and dialogs included.
class CaptionsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        services_ = std::make_unique<TestServices>();
    }
    void cleanup() {
        Forms::DestroyAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void areQtsOwnButtonsChinese_data();
    void areQtsOwnButtonsChinese();
    void isEveryCaptionChinese_data();
    void isEveryCaptionChinese();
    void isEveryWindowLaidOutAtItsDefaultSize_data() { isEveryCaptionChinese_data(); }
    void isEveryWindowLaidOutAtItsDefaultSize();

private:
    std::unique_ptr<TestServices> services_;
};

void CaptionsTest::areQtsOwnButtonsChinese_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("caption");
    QTest::newRow("OK") << int(QDialogButtonBox::Ok) << "确定";
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << "取消";
    QTest::newRow("Yes") << int(QDialogButtonBox::Yes) << "是(Y)";
    QTest::newRow("No") << int(QDialogButtonBox::No) << "否(N)";
}

void CaptionsTest::areQtsOwnButtonsChinese() {
    QFETCH(int, button);
    QFETCH(QString, caption);
    static const int installed = InstallChineseInterface(*QCoreApplication::instance());
    QVERIFY2(installed > 0, "no Chinese catalogue of Qt: install qt6-translations-l10n");
    QCOMPARE(QLocale().name(), QStringLiteral("zh_CN"));
    QDialogButtonBox box{QDialogButtonBox::StandardButtons(button)};
    QCOMPARE(box.button(QDialogButtonBox::StandardButton(button))->text().remove('&'), caption);
}

void CaptionsTest::isEveryCaptionChinese_data() {
    QTest::addColumn<std::function<QWidget*()>>("open");
    QTest::newRow("fWebSearch") << std::function<QWidget*()>([] { return Forms::fWebSearch(); });
    QTest::newRow("fFileDownload")
        << std::function<QWidget*()>([] { return Forms::fFileDownload(); });
    QTest::newRow("fSeleFileSavePath")
        << std::function<QWidget*()>([] { return new fSeleFileSavePath; });
    QTest::newRow("fOption") << std::function<QWidget*()>([] {
        auto* dialog = new fOption;
        dialog->Form_Load();
        return dialog;
    });
    QTest::newRow("Form_Copy_Move") << std::function<QWidget*()>([] { return new Form_Copy_Move; });
    QTest::newRow("UrlReplace") << std::function<QWidget*()>(
        [] { return new UrlReplace(Forms::fFileDownload()->ListItems3); });
    QTest::newRow("fIEcache") << std::function<QWidget*()>([] { return new fIEcache; });
    QTest::newRow("frmAbout") << std::function<QWidget*()>([] { return new frmAbout; });
    QTest::newRow("fCover") << std::function<QWidget*()>([] { return Forms::fCover(); });
}

void CaptionsTest::isEveryCaptionChinese() {
    QFETCH(std::function<QWidget*()>, open);
    QWidget* window = open();
    QVERIFY(window);
    const QStringList texts = visibleTexts(window);
    QVERIFY(texts.size() > 2);
    QStringList english;
    for (const QString& text : texts) {
        if (isEnglishOnly(text))
            english << text;
    }
    if (!Forms::Find(window->objectName()) || Forms::Find(window->objectName()) != window)
        delete window;
    QVERIFY2(english.isEmpty(), qPrintable(english.join(QStringLiteral(" | "))));
}

// Opened as the program opens it, at its default size: wholly on the screen, no control over
// another, no caption cut, the list's last column taking the free width.
void CaptionsTest::isEveryWindowLaidOutAtItsDefaultSize() {
    QFETCH(std::function<QWidget*()>, open);
    QWidget* window = open();
    QVERIFY(window);
    QCOMPARE(window->screen()->size(), QSize(1600, 1000));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::processEvents();
    QStringList faults = LayoutFaults(window);
    // A window that opens maximised must also hold together at the size it is restored to.
    if (window->isMaximized()) {
        window->showNormal();
        QCoreApplication::processEvents();
        faults << LayoutFaults(window);
    }
    if (!Forms::Find(window->objectName()) || Forms::Find(window->objectName()) != window)
        delete window;
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("\n"))));
}

QF_TEST_MAIN(CaptionsTest)
#include "test_captions.moc"
