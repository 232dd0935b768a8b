#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Downloader.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/KeyedListView.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The captions a menu shows, in order; a sub-menu as "caption ▸ [entries]", separators and
// hidden entries left out.
QStringList captions(const QMenu* menu) {
    QStringList all;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        if (action->menu())
            all << action->text() + " ▸ [" + captions(action->menu()).join(", ") + "]";
        else
            all << action->text();
    }
    return all;
}

} // namespace

// The download window's menus and the list's mouse events, on a real window over real files.
class ListCommandsWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init();
    void cleanup();

    void doTheMenusHoldEveryCommandInOrder();
    void whatDoesTheContextMenuOffer_data();
    void whatDoesTheContextMenuOffer();

    void doesTheFirstClickSortDescending();
    void doesSortingWaitForTheScheduler_data();
    void doesSortingWaitForTheScheduler();

    void whatDoesADoubleClickDo_data();
    void whatDoesADoubleClickDo();
    void doesAClickShowTheFileInPanel2();

    void doTheGuardedCommandsWaitForTransfers_data();
    void doTheGuardedCommandsWaitForTransfers();
    void doesClearingCompletedRowsCountTheRest();
    void doesClearingAllAskFirst_data();
    void doesClearingAllAskFirst();
    void isCancellingRefusedWhileBusy();
    void doesRequeueingKeepTheFilesUntilNewOnesReplaceThem();
    void whatDoesTheSizeQuestionAccept_data();
    void whatDoesTheSizeQuestionAccept();
    void doesTheShuffleCommandReport_data();
    void doesTheShuffleCommandReport();
    void doColumnsFitTheirContent();

    void doTheToolEntriesOpenTheirDialogs_data();
    void doTheToolEntriesOpenTheirDialogs();

private:
    // Adds a row `name`.`type` in the case's folder in `state`.
    int addRow(const QString& name, const QString& type, int state, const QString& size = {},
               const QString& received = {}, const QString& percent = {});
    QString folder() const { return dir_->path() + '/'; }
    QString names() const;
    QString states() const;
    QStringList messages() const { return services_->prompt.messages(); }
    // Runs `act` on the next modal dialog, from the event loop the dialog runs.
    std::unique_ptr<QTimer> whenModal(const std::function<void(QWidget*)>& act);

    std::unique_ptr<TestServices> services_;
    std::unique_ptr<QTemporaryDir> dir_;
    fFileDownload* w_ = nullptr;
};

void ListCommandsWindowTest::init() {
    services_ = std::make_unique<TestServices>();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    w_ = Forms::fFileDownload();
    QVERIFY(w_);
}

void ListCommandsWindowTest::cleanup() {
    if (Forms::Find(QStringLiteral("fFileDownload")) == w_) {
        w_->Timer_Down->stop();
        w_->Session().DownloadBusy = false;
        qDeleteAll(w_->Session().Downloader1);
        w_->Session().Downloader1.clear();
        w_->ListItems3->Clear();
    }
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

std::unique_ptr<QTimer>
ListCommandsWindowTest::whenModal(const std::function<void(QWidget*)>& act) {
    auto poll = std::make_unique<QTimer>();
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            act(modal);
        }
    });
    timer->start(10);
    return poll;
}

int ListCommandsWindowTest::addRow(const QString& name, const QString& type, int state,
                                   const QString& size, const QString& received,
                                   const QString& percent) {
    KeyedListModel* list = w_->ListItems3;
    const int position = list->Count() + 1;
    if (!w_->AddDownloadItem(QStringLiteral("http://127.0.0.1/article/%1").arg(position), name,
                             type, folder(), QString()))
        return 0;
    list->SetSmallIcon(position, state);
    list->SetSubItem(position, DownloadColumn::Size, size);
    list->SetSubItem(position, DownloadColumn::Received, received);
    list->SetSubItem(position, DownloadColumn::Percent, percent);
    return position;
}

QString ListCommandsWindowTest::names() const {
    QStringList all;
    for (int n = 1; n <= w_->ListItems3->Count(); ++n)
        all << w_->ListItems3->Text(n);
    return all.join(' ');
}

QString ListCommandsWindowTest::states() const {
    QString text;
    for (int n = 1; n <= w_->ListItems3->Count(); ++n)
        text += QString::number(w_->ListItems3->SmallIcon(n));
    return text;
}

// --- menus ---

void ListCommandsWindowTest::doTheMenusHoldEveryCommandInOrder() {
    QStringList bar;
    for (QAction* action : w_->menuBar()->actions())
        bar << action->text();
    QCOMPARE(bar, (QStringList{"列表操作(&D)", "窗口(&W)", "工具(&T)", "帮助(&H)"}));
    QCOMPARE(captions(w_->menu下载),
             (QStringList{"全选",
                          "全不选",
                          "随机排序列表(打乱)",
                          "自动调整列宽",
                          "重新下载 ▸ [选中项, 出错项, 网页类型文件(HTM/HTML/xml)项, "
                          "重新下载出错项和网页类型文件项, 文件大小小于指定数字的项, "
                          "恢复因连续出错而暂停的网站]",
                          "清除 ▸ [选中项, 全部出错项, 完成项]",
                          "清空",
                          "删除文件 ▸ [网页类型文件(HTM/HTML/xml)项, 出错项]",
                          "开始下载",
                          "停止下载",
                          "取消下载选中项",
                          "打开下载文件",
                          "打开所在文件夹",
                          "用文本编辑器打开文件",
                          "复制名称",
                          "批量替换网址",
                          "打开网址",
                          "导出名称 ▸ [全部, 未完成项]",
                          "导出为RIS/BibTeX/CSL-JSON…",
                          "导入引用文件（RIS/BibTeX/CSL-JSON/DOI列表）…",
                          "关闭本下载窗口",
                          "退出软件"}));
    QCOMPARE(captions(w_->menu窗口), QStringList{"资料检索分析窗口"});
    QCOMPARE(captions(w_->menu工具),
             (QStringList{"设置", "自动定位到下载项", "检查文件是否存在", "检查并纠正磁盘文件类型",
                          "清空浏览器缓存", "打开文件判断类型"}));
    QCOMPARE(captions(w_->menu帮助), QStringList{"关于"});
    QVERIFY(!w_->menu打开网址->isEnabled());

    // Clearing the browser's cache from here says so once, as from the search window.
    w_->menu清空IE浏览器缓存->trigger();
    QCOMPARE(messages(), QStringList{"浏览器缓存清空完毕！"});
}

void ListCommandsWindowTest::whatDoesTheContextMenuOffer_data() {
    QTest::addColumn<bool>("schedulerOn");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("busyRule");
    QTest::newRow("stopped: 全选, 清除, 清空 offered, 停止下载 greyed") << false << false << false;
    QTest::newRow("scheduler on") << true << false << true;
    QTest::newRow("a transfer not yet released") << false << true << true;
}

void ListCommandsWindowTest::whatDoesTheContextMenuOffer() {
    QFETCH(bool, schedulerOn);
    QFETCH(bool, busy);
    QFETCH(bool, busyRule);
    addRow("a", "pdf", ItemState::Waiting);
    if (schedulerOn)
        w_->Timer_Down->start();
    w_->Session().DownloadBusy = busy;
    w_->show();

    // A left button does nothing; the right one opens the list menu.
    w_->ListView3_MouseDown(Qt::LeftButton, QPoint(50, 50));
    QVERIFY(!w_->menu下载->isVisible());
    w_->ListView3_MouseDown(Qt::RightButton, QPoint(50, 50));
    QVERIFY(w_->menu下载->isVisible());
    QCOMPARE(w_->menu全选专利列表->isEnabled(), !busyRule);
    QCOMPARE(w_->menu清除->menuAction()->isEnabled(), !busyRule);
    QCOMPARE(w_->menu清空->isEnabled(), !busyRule);
    QCOMPARE(w_->menu停止下载->isEnabled(), busyRule);
    // The rest of the menu is always offered.
    QVERIFY(w_->menu全不选->isEnabled() && w_->menu重新下载->menuAction()->isEnabled());
    w_->menu下载->hide();

    // A real right click on a row opens it too.
    w_->menu全选专利列表->setEnabled(busyRule);
    const QRect row = w_->ListView3->visualRect(w_->ListItems3->index(0, 0));
    QTest::mouseClick(w_->ListView3->viewport(), Qt::RightButton, {}, row.center());
    QTRY_VERIFY(w_->menu下载->isVisible());
    QCOMPARE(w_->menu全选专利列表->isEnabled(), !busyRule);
    w_->menu下载->hide();
}

// --- sort ---

void ListCommandsWindowTest::doesTheFirstClickSortDescending() {
    addRow("b", "pdf", ItemState::Completed, "9", "9", "7%");
    addRow("a", "pdf", ItemState::Completed, "10", "10", "100%");
    addRow("c", "pdf", ItemState::Completed, "未知", "", "");
    w_->ListView3_ColumnClick(DownloadColumn::Size);
    QCOMPARE(names(), QStringLiteral("c a b"));
    // Another column then sorts ascending, and the cells read as before.
    w_->ListView3_ColumnClick(DownloadColumn::Percent);
    QCOMPARE(names(), QStringLiteral("c b a"));
    QCOMPARE(w_->ListItems3->SubItem(2, DownloadColumn::Percent), QStringLiteral("7%"));
    QCOMPARE(w_->ListItems3->SubItem(3, DownloadColumn::Size), QStringLiteral("10"));
    // A click on the header itself reaches the sort (descending again).
    w_->show();
    QHeaderView* header = w_->ListView3->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    QCOMPARE(names(), QStringLiteral("c b a"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    QCOMPARE(names(), QStringLiteral("a b c"));
    QVERIFY(messages().isEmpty());
}

void ListCommandsWindowTest::doesSortingWaitForTheScheduler_data() {
    QTest::addColumn<bool>("schedulerOn");
    QTest::newRow("scheduler on") << true;
    QTest::newRow("a transfer not yet released") << false;
}

void ListCommandsWindowTest::doesSortingWaitForTheScheduler() {
    QFETCH(bool, schedulerOn);
    addRow("b", "pdf", ItemState::Waiting);
    addRow("a", "pdf", ItemState::Waiting);
    if (schedulerOn)
        w_->Timer_Down->start();
    else
        w_->Session().DownloadBusy = true;
    w_->ListView3_ColumnClick(DownloadColumn::Name);
    QCOMPARE(names(), QStringLiteral("b a"));
    QCOMPARE(messages(), QStringList{"停止下载后方可排序！"});
    QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Information);
    // The refused click does not count: the first real one still sorts descending.
    w_->Timer_Down->stop();
    w_->Session().DownloadBusy = false;
    addRow("c", "pdf", ItemState::Waiting);
    w_->ListView3_ColumnClick(DownloadColumn::Name);
    QCOMPARE(names(), QStringLiteral("c b a"));
}

// --- list events ---

void ListCommandsWindowTest::whatDoesADoubleClickDo_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<int>("stateAfter");
    QTest::addColumn<bool>("fileAfter");
    QTest::addColumn<QString>("shellCall");
    QTest::addColumn<QStringList>("shownMessages");
    QTest::newRow("is a completed file opened?")
        << int(ItemState::Completed) << true << int(ItemState::Completed) << true << "openFile"
        << QStringList{};
    QTest::newRow("is a completed row without file reported?")
        << int(ItemState::Completed) << false << int(ItemState::Completed) << false << ""
        << QStringList{"文件不存在！"};
    QTest::newRow("is a failed row made waiting, its file kept until a new one replaces it?")
        << int(ItemState::Failed) << true << int(ItemState::Waiting) << true << "" << QStringList{};
    QTest::newRow("is a waiting row left alone?")
        << int(ItemState::Waiting) << true << int(ItemState::Waiting) << true << ""
        << QStringList{};
    QTest::newRow("is a running row left alone?")
        << int(ItemState::Downloading) << true << int(ItemState::Downloading) << true << ""
        << QStringList{};
}

void ListCommandsWindowTest::whatDoesADoubleClickDo() {
    QFETCH(int, state);
    QFETCH(bool, fileThere);
    QFETCH(int, stateAfter);
    QFETCH(bool, fileAfter);
    QFETCH(QString, shellCall);
    QFETCH(QStringList, shownMessages);
    addRow("other", "pdf", ItemState::Completed, "1", "1", "100%");
    const int position = addRow("paper", "htm", state, "900", "300", "33%");
    const QString path = folder() + "paper.htm";
    if (fileThere)
        QVERIFY(writeBytes(path, "partial"));

    w_->ListView3_DblClick(); // nothing selected: nothing happens
    QVERIFY(services_->shell.calls.isEmpty());
    w_->ListItems3->SetSelected(position, true);
    w_->ListView3_DblClick();

    QCOMPARE(w_->ListItems3->SmallIcon(position), stateAfter);
    QCOMPARE(QFile::exists(path), fileAfter);
    QCOMPARE(messages(), shownMessages);
    if (!shownMessages.isEmpty())
        QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Error);
    QCOMPARE(services_->shell.calls.size(), shellCall.isEmpty() ? 0 : 1);
    if (!shellCall.isEmpty()) {
        QCOMPARE(services_->shell.calls.first().what, shellCall);
        QCOMPARE(services_->shell.calls.first().target, path);
    }
    const bool requeued = state == ItemState::Failed;
    QCOMPARE(w_->ListItems3->SubItem(position, DownloadColumn::Size).isEmpty(), requeued);
    QCOMPARE(w_->ListItems3->SubItem(position, DownloadColumn::Percent).isEmpty(), requeued);
    QCOMPARE(w_->ListItems3->SubItem(position, DownloadColumn::Type), QStringLiteral("htm"));
}

void ListCommandsWindowTest::doesAClickShowTheFileInPanel2() {
    bool cancel = false;
    w_->ListView3_BeforeLabelEdit(cancel);
    QVERIFY(cancel);
    addRow("here", "pdf", ItemState::Completed);
    addRow("gone", "pdf", ItemState::Completed);
    QVERIFY(writeBytes(folder() + "here.pdf", "%PDF"));
    w_->ListView3_ItemClick(1);
    QCOMPARE(w_->StatusPanel2->text(), folder() + "here.pdf");
    w_->ListView3_ItemClick(2);
    QCOMPARE(w_->StatusPanel2->text(), QString());
    // A real click on the first row.
    w_->show();
    const QRect row = w_->ListView3->visualRect(w_->ListItems3->index(0, 0));
    QTest::mouseClick(w_->ListView3->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(w_->StatusPanel2->text(), folder() + "here.pdf");
}

// --- commands ---

void ListCommandsWindowTest::doTheGuardedCommandsWaitForTransfers_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("errorIcon");
    QTest::addColumn<QString>("active"); // "scheduler", "slot" or "busy"
    const QString stopFirst = QStringLiteral("停止下载以后，才能执行此操作！");
    // Every command that rewrites or removes rows.
    const QList<std::tuple<const char*, QString, bool>> commands = {
        {"ListView3_ColumnClick", QStringLiteral("停止下载后方可排序！"), false},
        {"menu随机排序列表", stopFirst, false},
        {"menu清除选中项", stopFirst, false},
        {"menu清除全部出错项", stopFirst, false},
        {"menu清除完成项", stopFirst, false},
        {"menu清空", stopFirst, false},
        {"menu取消下载选中项", QStringLiteral("停止下载后方可设置！"), true},
        {"menu批量替换网址", stopFirst, false},
        {"menu检查并纠正磁盘文件类型", stopFirst, false},
    };
    for (const auto& [command, refusal, errorIcon] : commands) {
        QTest::addRow("%s while the scheduler is on", command)
            << command << refusal << errorIcon << "scheduler";
        QTest::addRow("%s while a parallel slot is in use", command)
            << command << refusal << errorIcon << "slot";
        QTest::addRow("%s while a transfer holds the busy flag", command)
            << command << refusal << errorIcon << "busy";
    }
}

void ListCommandsWindowTest::doTheGuardedCommandsWaitForTransfers() {
    QFETCH(QString, command);
    QFETCH(QString, refusal);
    QFETCH(bool, errorIcon);
    QFETCH(QString, active);
    const GuardedListCommand* guarded = FindGuardedListCommand(command);
    QVERIFY(guarded);
    QCOMPARE(guarded->refusal, refusal);
    addRow("a", "pdf", ItemState::Completed);
    addRow("b", "htm", ItemState::Failed);
    addRow("c", "pdf", ItemState::Waiting);
    addRow("d", "pdf", ItemState::Downloading);
    QVERIFY(writeBytes(folder() + "b.htm", "%PDF-1.4 not a page"));
    w_->menu全选专利列表_Click();
    if (active == "scheduler")
        w_->Timer_Down->start();
    else if (active == "slot")
        w_->Session().Downloader1.insert(2, new Downloader(w_));
    else
        w_->Session().DownloadBusy = true;
    QStringList keys;
    for (int n = 1; n <= w_->ListItems3->Count(); ++n)
        keys << w_->ListItems3->Key(n);
    const QString before = names() + ' ' + states();

    // A command that is let through and opens a dialog or question finds it closed.
    const auto closer = whenModal([](QWidget* modal) { modal->close(); });
    if (command == "ListView3_ColumnClick") {
        w_->ListView3_ColumnClick(0);
    } else {
        auto* action = w_->findChild<QAction*>(command);
        QVERIFY(action);
        action->trigger();
    }

    QCOMPARE(names() + ' ' + states(), before);
    for (int n = 1; n <= w_->ListItems3->Count(); ++n)
        QCOMPARE(w_->ListItems3->Key(n), keys.at(n - 1));
    QVERIFY(QFile::exists(folder() + "b.htm"));
    QCOMPARE(messages(), QStringList{refusal});
    QCOMPARE(services_->prompt.shown().first().icon,
             errorIcon ? MsgIcon::Error : MsgIcon::Information);
}

void ListCommandsWindowTest::doesClearingCompletedRowsCountTheRest() {
    addRow("a", "pdf", ItemState::Completed);
    addRow("b", "pdf", ItemState::Completed);
    addRow("c", "pdf", ItemState::Failed);
    QVERIFY(writeBytes(folder() + "a.pdf", "%PDF"));
    w_->menu清除完成项_Click();
    QCOMPARE(names(), QStringLiteral("c"));
    QCOMPARE(w_->Label1->text(), QStringLiteral("1条"));
    QVERIFY(QFile::exists(folder() + "a.pdf"));
    w_->menu清除全部出错项_Click();
    QCOMPARE(w_->Label1->text(), QStringLiteral("0条"));
    // An empty list is left alone, and the count is not rewritten.
    w_->Label1->setText(QStringLiteral("unchanged"));
    w_->menu清除选中项_Click();
    QCOMPARE(w_->Label1->text(), QStringLiteral("unchanged"));
    QVERIFY(messages().isEmpty());
}

void ListCommandsWindowTest::doesClearingAllAskFirst_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("answered No, nothing changes") << false;
    QTest::newRow("answered Yes, the list is empty") << true;
}

void ListCommandsWindowTest::doesClearingAllAskFirst() {
    QFETCH(bool, yes);
    addRow("a", "pdf", ItemState::Completed);
    addRow("b", "pdf", ItemState::Waiting);
    w_->Label1->setText(QStringLiteral("2条"));
    services_->prompt.answer(yes ? MsgResult::Yes : MsgResult::No);
    w_->menu清空_Click();
    QCOMPARE(messages(), QStringList{"您确定要清空列表的所有信息吗？"});
    QCOMPARE(services_->prompt.shown().first().buttons, MsgButtons::YesNo);
    QCOMPARE(w_->ListItems3->Count(), yes ? 0 : 2);
    QCOMPARE(w_->Label1->text(), yes ? QStringLiteral("0条") : QStringLiteral("2条"));
}

void ListCommandsWindowTest::isCancellingRefusedWhileBusy() {
    addRow("a", "pdf", ItemState::Waiting);
    addRow("b", "pdf", ItemState::Waiting);
    addRow("c", "pdf", ItemState::Downloading);
    addRow("d", "pdf", ItemState::Waiting);
    for (int position : {1, 3, 4})
        w_->ListItems3->SetSelected(position, true);
    w_->Session().DownloadBusy = true;
    w_->menu取消下载选中项_Click();
    QCOMPARE(states(), QStringLiteral("1121"));
    QCOMPARE(messages(), QStringList{"停止下载后方可设置！"});
    QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Error);

    // Stopped, only the selected waiting rows fail.
    w_->Session().DownloadBusy = false;
    w_->menu取消下载选中项_Click();
    QCOMPARE(states(), QStringLiteral("4124"));
    QCOMPARE(messages().size(), 1);
}

void ListCommandsWindowTest::doesRequeueingKeepTheFilesUntilNewOnesReplaceThem() {
    addRow("name", "htm", ItemState::Failed, "5000", "120", "2%");
    addRow("kept", "pdf", ItemState::Completed, "9", "9", "100%");
    for (const char* file : {"name.htm", "name.xxx", "kept.pdf"})
        QVERIFY(writeBytes(folder() + file, "bytes"));
    // Not guarded: it runs while downloading is on, and leaves the scheduler as it was.
    w_->Timer_Down->start();
    w_->menu重新下载出错项_Click();
    QCOMPARE(states(), QStringLiteral("13"));
    QCOMPARE(w_->ListItems3->SubItem(1, DownloadColumn::Type), QStringLiteral("xxx"));
    QCOMPARE(w_->ListItems3->SubItem(1, DownloadColumn::Received), QString());
    QVERIFY(QFile::exists(folder() + "name.htm"));
    QVERIFY(QFile::exists(folder() + "name.xxx"));
    QVERIFY(QFile::exists(folder() + "kept.pdf"));
    QVERIFY(w_->Timer_Down->isActive());
    QVERIFY(messages().isEmpty());

    // 选中项 and 出错项和网页类型文件项 take the completed pdf only when selected.
    w_->menu重新下载出错项和网页项_Click();
    QCOMPARE(states(), QStringLiteral("13"));
    w_->ListItems3->SetSelected(2, true);
    w_->menu重新下载选中项_Click();
    QCOMPARE(states(), QStringLiteral("11"));
    QVERIFY(QFile::exists(folder() + "kept.pdf"));
}

void ListCommandsWindowTest::whatDoesTheSizeQuestionAccept_data() {
    QTest::addColumn<QString>("answer"); // "<cancel>" cancels the box
    QTest::addColumn<QString>("statesAfter");
    QTest::newRow("1000 takes the 500-byte row") << "1000"
                                                 << "143";
    QTest::newRow("a trimmed answer") << "  1000  "
                                      << "143";
    QTest::newRow("a non-numeric answer does nothing") << "many"
                                                       << "343";
    QTest::newRow("an empty answer does nothing") << ""
                                                  << "343";
    QTest::newRow("a cancelled box does nothing") << "<cancel>"
                                                  << "343";
}

void ListCommandsWindowTest::whatDoesTheSizeQuestionAccept() {
    QFETCH(QString, answer);
    QFETCH(QString, statesAfter);
    addRow("small", "pdf", ItemState::Completed, "500", "500", "100%");
    addRow("cut", "pdf", ItemState::Failed, "500", "200", "40%");
    addRow("big", "pdf", ItemState::Completed, "5000", "5000", "100%");
    QVERIFY(writeBytes(folder() + "small.pdf", "bytes"));
    if (answer == "<cancel>")
        services_->prompt.answerCancel();
    else
        services_->prompt.answerText(answer);
    w_->menu重新下载文件大小小于指定数字的项_Click();
    QCOMPARE(services_->prompt.shown().size(), 1);
    QCOMPARE(services_->prompt.shown().first().kind, ScriptedPrompt::Kind::Input);
    QCOMPARE(services_->prompt.shown().first().text, QStringLiteral("请输入数字："));
    QCOMPARE(states(), statesAfter);
    QVERIFY(QFile::exists(folder() + "small.pdf")); // kept until a new one replaces it
}

void ListCommandsWindowTest::doesTheShuffleCommandReport_data() {
    QTest::addColumn<int>("rows");
    QTest::newRow("an empty list still reports") << 0;
    QTest::newRow("one row stays") << 1;
    QTest::newRow("fifty rows keep their fields") << 50;
}

void ListCommandsWindowTest::doesTheShuffleCommandReport() {
    QFETCH(int, rows);
    QStringList before;
    for (int i = 0; i < rows; ++i)
        before << QString::number(
            addRow(QStringLiteral("r%1").arg(i), "pdf", 1 + i % 4, QString::number(i)));
    auto rowsNow = [this] {
        QStringList all;
        for (int n = 1; n <= w_->ListItems3->Count(); ++n)
            all << w_->ListItems3->Key(n).section('/', -1) + w_->ListItems3->Text(n) +
                       QString::number(w_->ListItems3->SmallIcon(n)) +
                       w_->ListItems3->SubItem(n, DownloadColumn::Size);
        return all;
    };
    before = rowsNow();
    w_->menu随机排序列表_Click();
    QCOMPARE(messages(), QStringList{"随机排序完成！"});
    QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Information);
    QStringList after = rowsNow();
    QCOMPARE(after != before, rows == 50);
    after.sort();
    before.sort();
    QCOMPARE(after, before);
    w_->ShuffleList(false); // silent without the flag
    QCOMPARE(messages().size(), 1);
}

void ListCommandsWindowTest::doColumnsFitTheirContent() {
    const QString longName(120, QChar('W'));
    addRow(longName, "pdf", ItemState::Completed);
    QHeaderView* header = w_->ListView3->header();
    header->resizeSection(0, 40);
    header->resizeSection(6, 300);
    w_->menu自动列宽_Click();
    const int textWidth = w_->ListView3->fontMetrics().horizontalAdvance(longName);
    QVERIFY2(header->sectionSize(0) >= textWidth,
             qPrintable(QString::number(header->sectionSize(0))));
    // The empty reason column shrinks to its header.
    QVERIFY(header->sectionSize(6) < 300);
    QVERIFY(w_->ListView3->HasStripes());
    QCOMPARE(w_->ListView3->RowHeight(), 17);
}

// --- tool entries and the window ---

void ListCommandsWindowTest::doTheToolEntriesOpenTheirDialogs_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("dialog");
    QTest::newRow("设置") << "设置"
                          << "fOption";
    QTest::newRow("关于") << "关于"
                          << "frmAbout";
    QTest::newRow("批量替换网址") << "批量替换网址"
                                  << "UrlReplace";
}

void ListCommandsWindowTest::doTheToolEntriesOpenTheirDialogs() {
    QFETCH(QString, entry);
    QFETCH(QString, dialog);
    addRow("a", "pdf", ItemState::Waiting);
    w_->show();
    QAction* action = entry == "设置"   ? w_->设置
                      : entry == "关于" ? w_->关于
                                        : w_->menu批量替换网址;
    QVERIFY(action->isEnabled());
    QString seen;
    bool modal = false;
    auto watch = whenModal([&](QWidget* shown) {
        seen = shown->metaObject()->className();
        modal = shown->isModal();
        shown->close();
    });
    action->trigger();
    QCOMPARE(seen, dialog);
    QVERIFY(modal);
    QCOMPARE(Forms::Find(QStringLiteral("fFileDownload")), static_cast<QWidget*>(w_));
}

QF_TEST_MAIN(ListCommandsWindowTest)
#include "test_listcommandswindow.moc"
