#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Registry.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/download/fSeleFileSavePath.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <utility>

namespace {

// A prompt during whose wait the user closes the window, as a real dialog's event loop lets
// happen: the close runs, and so do the deletions it schedules.
class ClosingPrompt : public ScriptedPrompt {
public:
    std::function<void()> duringDialog;

    MsgResult message(QObject* owner, const QString& text, MsgIcon icon, MsgButtons buttons,
                      const QString& title) override {
        wait();
        return ScriptedPrompt::message(owner, text, icon, buttons, title);
    }
    std::optional<QString> input(QObject* owner, const QString& prompt, const QString& title,
                                 const QString& defaultText) override {
        wait();
        return ScriptedPrompt::input(owner, prompt, title, defaultText);
    }
    QString saveFileName(QObject* owner, const QString& title, const QString& startPath,
                         const QString& filter) override {
        wait();
        return ScriptedPrompt::saveFileName(owner, title, startPath, filter);
    }

private:
    void wait() {
        if (const std::function<void()> action = std::exchange(duringDialog, {}))
            action();
    }
};

// Records the text a label shows each time it is painted.
class PaintedTexts : public QObject {
public:
    explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
    QStringList texts;
    std::function<void(const QString&)> onPaint;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::Paint) {
            texts << label_->text();
            if (onPaint)
                onPaint(label_->text());
        }
        return false;
    }

private:
    QLabel* label_;
};

void closeAndDeleteWhatIsDue(QWidget* window) {
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

// Analysis runs: search records handed to the download list as waiting rows.
class AnalysisTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void analysingAnEmptyListSaysSoAndStartsNothing();
    void withNothingSelectedEveryRecordIsHandedOver();
    void eachRunTakesItsOwnRecords();
    void aLinkAlreadyInTheDownloadListSucceedsWithoutASecondRow();
    void aRecordWhoseLinkIsNoWebAddressIsNotHandedOver();
    void namesComeFromTitlesOrLinksAndStayOnOneLine();
    void isEachArticleHandedOverOnce_data();
    void isEachArticleHandedOverOnce();
    void aCancelledFolderDialogProcessesNothing();
    void anAcceptedFolderDialogGivesTheRecordsItsFolder();
    void theStopButtonEndsALongRun();
    void addingAPageAsksForTheFolderFirst();
    void closingTheWindowDuringADialogLeavesTheListAlone_data();
    void closingTheWindowDuringADialogLeavesTheListAlone();
    void closingTheWindowWhileTheRunMenuIsOpen();
    void aStopPressedDuringARowIsSeenRightAfterIt_data();
    void aStopPressedDuringARowIsSeenRightAfterIt();
    void theProgressShowsTheRowBeingProcessed();

private:
    fWebSearch* search();
    void fill(int rows, const QString& folder = QString());
    // Answers the next modal save-folder dialog by calling `answer` on it.
    void answerDialog(const std::function<void(fSeleFileSavePath*)>& answer);
    KeyedListModel& downloads();

    std::unique_ptr<TestServices> services_;
    ScriptedPrompt* prompt_ = nullptr;
};

void AnalysisTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    services_ = std::make_unique<TestServices>();
    prompt_ = &services_->prompt;
}

void AnalysisTest::init() {
    prompt_->clear();
    search(); // loading reads the stored prompt setting; the tests set their own after it
    Program().PromptSaveFolder = true;
    Program().UseLinkFileName = false;
    Program().SaveFolderCancelled = false;
    Program().DefaultSaveFolder = services_->path("default/");
}

void AnalysisTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

fWebSearch* AnalysisTest::search() {
    return Forms::fWebSearch();
}

KeyedListModel& AnalysisTest::downloads() {
    return *Forms::fFileDownload()->ListItems3;
}

void AnalysisTest::fill(int rows, const QString& folder) {
    for (int i = 1; i <= rows; ++i)
        search()->加入LV1(QStringLiteral("Paper %1").arg(i),
                          QStringLiteral("http://127.0.0.1/content/%1.pdf").arg(i),
                          QStringLiteral("http://127.0.0.1/search?FIRSTINDEX=%1").arg(i / 10 * 10),
                          "pdf", folder);
}

void AnalysisTest::answerDialog(const std::function<void(fSeleFileSavePath*)>& answer) {
    auto* poll = new QTimer(this);
    poll->setInterval(10);
    connect(poll, &QTimer::timeout, this, [poll, answer] {
        if (auto* dialog = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start();
}

void AnalysisTest::analysingAnEmptyListSaysSoAndStartsNothing() {
    search()->Command2_Click();
    QCOMPARE(prompt_->messages(), QStringList{QStringLiteral("列表没有数据哦！")});
    QCOMPARE(prompt_->shown().first().icon, MsgIcon::Information);
    QVERIFY(search()->Command2->isEnabled());
    QVERIFY(!IsFormLoaded("fFileDownload"));
}

void AnalysisTest::aRecordWhoseLinkIsNoWebAddressIsNotHandedOver() {
    const QStringList links{"javascript:alert(1)", "file:///etc/passwd",
                            "http://127.0.0.1/content/1.pdf"};
    for (const QString& link : links)
        search()->加入LV1(QStringLiteral("Paper"), link, {}, "pdf", {});
    search()->Command2_Click();

    QCOMPARE(downloads().Count(), 1);
    QVERIFY(downloads().ContainsKey(links[2]));
    QCOMPARE(search()->ListItems->SubItem(1, 2), QStringLiteral("分析失败"));
    QCOMPARE(search()->ListItems->SubItem(2, 2), QStringLiteral("分析失败"));
    QCOMPARE(search()->ListItems->SubItem(3, 2), QStringLiteral("成功"));
    QCOMPARE(search()->StatusPanel3->text(),
             QStringLiteral("本次分析成功：1条，2条的链接不是 http 或 https 网址，未加入下载列表"));
}

void AnalysisTest::withNothingSelectedEveryRecordIsHandedOver() {
    fill(25);
    search()->ListItems->SetSubItem(3, 2, QStringLiteral("成功"));
    search()->Command2_Click();

    QVERIFY(search()->StopAnalysis);
    QVERIFY(!search()->PicPanPrograss->isVisible());
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：25条"));
    for (int row = 1; row <= 25; ++row)
        QCOMPARE(search()->ListItems->SubItem(row, 2), QStringLiteral("成功"));
    QVERIFY(IsFormLoaded("fFileDownload"));
    QVERIFY(Forms::fFileDownload()->isVisible());
    QCOMPARE(downloads().Count(), 25);
    const int row = downloads().PositionOfKey("http://127.0.0.1/content/17.pdf");
    QVERIFY(row > 0);
    QCOMPARE(downloads().Text(row), QStringLiteral("Paper 17"));
    QCOMPARE(downloads().SubItem(row, 1), QStringLiteral("pdf"));
    QCOMPARE(downloads().SubItem(row, 5), Program().DefaultSaveFolder);
    QCOMPARE(downloads().Tag(row), QStringLiteral("http://127.0.0.1/search?FIRSTINDEX=10"));
    QCOMPARE(downloads().SmallIcon(row), 1);
    QVERIFY(prompt_->shown().isEmpty());
}

void AnalysisTest::eachRunTakesItsOwnRecords() {
    fill(6);
    KeyedListModel& list = *search()->ListItems;
    list.SetSubItem(1, 2, QStringLiteral("成功"));
    list.SetSubItem(2, 2, QStringLiteral("分析失败"));

    // Records already handed over are left alone by the unanalysed run.
    search()->RunAnalysis(fWebSearch::AnalysisRun::Unanalysed);
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：4条"));
    QVERIFY(!downloads().ContainsKey(list.Key(1)));
    QVERIFY(!downloads().ContainsKey(list.Key(2)));
    QCOMPARE(list.SubItem(2, 2), QStringLiteral("分析失败"));

    search()->RunAnalysis(fWebSearch::AnalysisRun::Failed);
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：1条"));
    QCOMPARE(list.SubItem(2, 2), QStringLiteral("成功"));
    QVERIFY(!downloads().ContainsKey(list.Key(1)));

    search()->RunAnalysis(fWebSearch::AnalysisRun::Unanalysed); // nothing left to do
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：0条"));

    list.SetSelected(1, true);
    list.SetSelected(4, true);
    // A record the list holds already is said apart from the rows it gained.
    search()->RunAnalysis(fWebSearch::AnalysisRun::Selected);
    QCOMPARE(search()->StatusPanel3->text(),
             QStringLiteral("本次分析成功：2条，新加入下载列表1条，1条已在下载列表中，未重复加入"));
    QVERIFY(downloads().ContainsKey(list.Key(1)));

    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(search()->StatusPanel3->text(),
             QStringLiteral("本次分析成功：6条，新加入下载列表0条，6条已在下载列表中，未重复加入"));
    QCOMPARE(downloads().Count(), 6);
}

void AnalysisTest::aLinkAlreadyInTheDownloadListSucceedsWithoutASecondRow() {
    fill(2);
    QVERIFY(Forms::fFileDownload()->AddDownloadItem("http://127.0.0.1/content/1.pdf", "mine", "htm",
                                                    "/kept/", "ref"));
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(search()->ListItems->SubItem(1, 2), QStringLiteral("成功"));
    QCOMPARE(downloads().Count(), 2);
    const int row = downloads().PositionOfKey("http://127.0.0.1/content/1.pdf");
    QCOMPARE(downloads().Text(row), QStringLiteral("mine"));
    QCOMPARE(downloads().SubItem(row, 1), QStringLiteral("htm"));
    QCOMPARE(downloads().SubItem(row, 5), QStringLiteral("/kept/"));
}

void AnalysisTest::namesComeFromTitlesOrLinksAndStayOnOneLine() {
    search()->加入LV1(QStringLiteral(" Two\r\nlines: a/b? "), "http://127.0.0.1/x/science.abc1234",
                      "p", "pdf", services_->path("own/"));
    search()->加入LV1(QStringLiteral("???"), "http://127.0.0.1/x/fallback.pdf", "p", "pdf", "");
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(downloads().Text(1), QStringLiteral("Twolines ab"));
    QCOMPARE(downloads().SubItem(1, 5), services_->path("own/"));
    QCOMPARE(downloads().Text(2), QStringLiteral("fallback")); // a title that cleans away

    Forms::fFileDownload()->ListItems3->Clear();
    Program().UseLinkFileName = true;
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(downloads().Text(1), QStringLiteral("science"));
}

void AnalysisTest::isEachArticleHandedOverOnce_data() {
    QTest::addColumn<QString>("listed"); // already in the download list
    QTest::addColumn<QString>("link");   // the record handed over
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("added"); // the new row's name; "" when none is added
    const QString pdf = "https://www.science.org/doi/pdf/10.1126/science.";
    QTest::newRow("the same DOI in other letters")
        << pdf + "abc1234?download=true" << pdf + "ABC1234?download=true"
        << "T"
        << "";
    QTest::newRow("the same DOI through another form of link")
        << pdf + "abc1234?download=true"
        << "https://www.science.org/doi/epdf/10.1126/science.abc1234"
        << "T"
        << "";
    QTest::newRow("a path in other letters is another file") << "http://127.0.0.1/content/1.pdf"
                                                             << "http://127.0.0.1/CONTENT/1.pdf"
                                                             << "path case counts"
                                                             << "path case counts";
    QTest::newRow("another article")
        << pdf + "abc1234?download=true" << pdf + "abc1235?download=true"
        << "Other"
        << "Other";
    QTest::newRow("a title of blanks takes the link's name")
        << "http://127.0.0.1/content/1.pdf"
        << "http://127.0.0.1/content/named.pdf" << QStringLiteral("\u3000\u00a0 \t ") << "named";
}

void AnalysisTest::isEachArticleHandedOverOnce() {
    QFETCH(QString, listed);
    QFETCH(QString, link);
    QFETCH(QString, title);
    QFETCH(QString, added);
    QVERIFY(search()->加入下载列表(listed, "first", "pdf", "", "page"));
    // A list emptied since then forgets what it held.
    Forms::fFileDownload()->ListItems3->Clear();
    QVERIFY(search()->加入下载列表(listed, "first", "pdf", "", "page"));

    QVERIFY(search()->加入下载列表(link, title, "pdf", "", "page"));
    QCOMPARE(downloads().Count(), added.isEmpty() ? 1 : 2);
    QCOMPARE(downloads().Text(1), QStringLiteral("first"));
    if (!added.isEmpty())
        QCOMPARE(downloads().Text(2), added);
}

void AnalysisTest::aCancelledFolderDialogProcessesNothing() {
    Program().PromptSaveFolder = false;
    fill(5);
    answerDialog([](fSeleFileSavePath* dialog) { dialog->Command3_Click(); });
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QVERIFY(Program().SaveFolderCancelled);
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：0条"));
    QCOMPARE(search()->ListItems->SubItem(1, 2), QString());
    QVERIFY(!IsFormLoaded("fFileDownload"));
}

void AnalysisTest::anAcceptedFolderDialogGivesTheRecordsItsFolder() {
    Program().PromptSaveFolder = false;
    fill(3);
    const QString chosen = services_->path("chosen/sub");
    answerDialog([&](fSeleFileSavePath* dialog) {
        dialog->Combo1->setEditText(chosen);
        dialog->Option1->setChecked(true);
        dialog->Command2_Click();
    });
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QVERIFY(!Program().SaveFolderCancelled);
    QCOMPARE(Program().DefaultSaveFolder, chosen + "/");
    QVERIFY(QFileInfo(chosen).isDir());
    QCOMPARE(downloads().Count(), 3);
    QCOMPARE(downloads().SubItem(1, 5), chosen + "/");
    QCOMPARE(downloads().Text(1), QStringLiteral("1")); // named after the link: 1.pdf
}

void AnalysisTest::theStopButtonEndsALongRun() {
    fill(20000);
    QTimer::singleShot(0, search(), [this] { search()->Command5->click(); });
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QVERIFY(search()->StopAnalysis);
    const int handed = downloads().Count();
    QVERIFY2(handed > 0 && handed < 20000, qPrintable(QString::number(handed)));
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：%1条").arg(handed));
    QCOMPARE(search()->ListItems->SubItem(20000, 2), QString());
}

void AnalysisTest::addingAPageAsksForTheFolderFirst() {
    Program().PromptSaveFolder = true;
    int shown = 0;
    answerDialog([&](fSeleFileSavePath* dialog) {
        ++shown;
        dialog->Command3_Click();
    });
    search()->Command9_Click();
    QCOMPARE(shown, 1);
    QVERIFY(Program().SaveFolderCancelled);
}

void AnalysisTest::closingTheWindowDuringADialogLeavesTheListAlone_data() {
    QTest::addColumn<int>("command");
    QTest::newRow("清除标题含指定字符项?") << 0;
    QTest::newRow("清除标题不含指定字符项?") << 1;
    QTest::newRow("清空全部?") << 2;
    QTest::newRow("导出数据...?") << 3;
    QTest::newRow("分析下载 on an empty list?") << 4;
}

void AnalysisTest::closingTheWindowDuringADialogLeavesTheListAlone() {
    QFETCH(int, command);
    if (command != 4)
        fill(5);
    const QString exportPath = services_->path("closed-export.txt");
    ClosingPrompt closing;
    closing.answerText(QStringLiteral("Paper"));
    closing.answer(MsgResult::Yes);
    closing.answerText(exportPath);
    QPointer<fWebSearch> window = search();
    QPointer<KeyedListModel> list = window->ListItems;
    closing.duringDialog = [window] {
        closeAndDeleteWhatIsDue(window);
    };
    Services().prompt = &closing;

    switch (command) {
    case 0:
        window->menu清除标题含指定字符项_Click();
        break;
    case 1:
        window->menu清除标题不含指定字符项_Click();
        break;
    case 2:
        window->menu清空全部_Click();
        break;
    case 3:
        window->Command7_Click();
        break;
    default:
        window->Command2_Click();
        break;
    }
    Services().prompt = prompt_;

    // The handler came back to a window that was still there, saw that it had gone, and did
    // nothing more; the window went once the handler had returned.
    QCOMPARE(closing.shown().size(), 1);
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(window);
    QCOMPARE(list->Count(), command == 4 ? 0 : 5);
    QVERIFY(!QFileInfo::exists(exportPath));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
}

void AnalysisTest::closingTheWindowWhileTheRunMenuIsOpen() {
    fill(3);
    QPointer<fWebSearch> window = search();
    window->ListItems->SetSelected(2, true);
    bool sawMenu = false;
    QTimer user;
    user.setInterval(10);
    connect(&user, &QTimer::timeout, this, [&] {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup || !window)
            return;
        sawMenu = popup == static_cast<QWidget*>(window->menu加入);
        user.stop();
        closeAndDeleteWhatIsDue(window);
        popup->close();
    });
    user.start();
    window->Command2_Click();
    user.stop();

    QVERIFY(sawMenu);
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(window);
    QVERIFY(!window->Command2->isEnabled()); // left as it was: the window has gone
    QCOMPARE(window->ListItems->SubItem(2, 2), QString());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
    QVERIFY(!IsFormLoaded("fFileDownload"));
}

void AnalysisTest::aStopPressedDuringARowIsSeenRightAfterIt_data() {
    QTest::addColumn<int>("run");
    QTest::addColumn<int>("stopRow"); // the row during which the user presses 停止
    QTest::addColumn<int>("handed");
    // Even rows are selected.
    QTest::newRow("分析全部?") << int(fWebSearch::AnalysisRun::All) << 5 << 5;
    QTest::newRow("分析选中项, during a selected row?")
        << int(fWebSearch::AnalysisRun::Selected) << 6 << 3;
    QTest::newRow("分析选中项, during a row that is not selected?")
        << int(fWebSearch::AnalysisRun::Selected) << 1 << 0;
}

void AnalysisTest::aStopPressedDuringARowIsSeenRightAfterIt() {
    QFETCH(int, run);
    QFETCH(int, stopRow);
    QFETCH(int, handed);
    fill(40);
    KeyedListModel& list = *search()->ListItems;
    for (int row = 2; row <= 40; row += 2)
        list.SetSelected(row, true);
    // The press arrives as an event while the row is worked on: a handed-over row is being
    // added, or (for a row the run passes over) its progress is being painted.
    const auto press = [this] {
        QMetaObject::invokeMethod(search()->Command5, "click", Qt::QueuedConnection);
    };
    const QString stopText = QStringLiteral("正在分析第%1/40条记录：Paper %1").arg(stopRow);
    PaintedTexts painted(search()->Label11);
    painted.onPaint = [&](const QString& text) {
        if (text == stopText && stopRow % 2 == 1)
            press();
    };
    connect(&downloads(), &QAbstractItemModel::rowsInserted, this, [&] {
        if (list.SubItem(stopRow, 2).isEmpty() && downloads().ContainsKey(list.Key(stopRow)))
            press();
    });

    search()->RunAnalysis(fWebSearch::AnalysisRun(run));

    QCOMPARE(downloads().Count(), handed);
    QCOMPARE(search()->StatusPanel3->text(), QStringLiteral("本次分析成功：%1条").arg(handed));
    QVERIFY(search()->StopAnalysis);
    // Nothing after the row was touched.
    for (int row = stopRow + 1; row <= 40; ++row)
        QVERIFY2(list.SubItem(row, 2).isEmpty(), qPrintable(QString::number(row)));
}

void AnalysisTest::theProgressShowsTheRowBeingProcessed() {
    fill(8);
    PaintedTexts painted(search()->Label11);
    // Each hand-over takes a while (longer than a frame): meanwhile the label shows that row.
    QStringList shownDuringRow;
    connect(&downloads(), &QAbstractItemModel::rowsInserted, this, [&] {
        shownDuringRow << painted.texts.value(painted.texts.size() - 1);
        QThread::msleep(20);
    });
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(shownDuringRow.size(), 8);
    for (int row = 1; row <= 8; ++row)
        QCOMPARE(shownDuringRow[row - 1],
                 QStringLiteral("正在分析第%1/8条记录：Paper %1").arg(row));

    // Fast rows are not painted one by one: the screen could not show them anyway.
    Forms::fFileDownload()->ListItems3->Clear();
    search()->ListItems->Clear();
    fill(5000);
    disconnect(&downloads(), nullptr, this, nullptr);
    painted.texts.clear();
    search()->RunAnalysis(fWebSearch::AnalysisRun::All);
    QCOMPARE(downloads().Count(), 5000);
    QVERIFY(!painted.texts.isEmpty());
    QVERIFY2(painted.texts.size() < 500, qPrintable(QString::number(painted.texts.size())));
    QVERIFY(painted.texts.contains(QStringLiteral("正在分析第1/5000条记录：Paper 1")));
}

QF_TEST_MAIN(AnalysisTest)
#include "test_analysis.moc"
