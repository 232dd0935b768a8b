#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"
#include "WebTestHelper.h"

#include "core/platform/KeyedListModel.h"
#include "core/tools/UrlCache.h"
#include "ui/app/Forms.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"
#include "ui/tools/CacheTools.h"
#include "ui/tools/Form_Copy_Move.h"
#include "ui/tools/fIEcache.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <zlib.h>

#include <functional>
#include <memory>

// The cache viewer over the real browser profile: pages from the test server are loaded into
// the program's own profile, whose cache the viewer lists, copies out and deletes; and over
// crafted users' cache folders holding link traps.

using Response = TestHttpServer::Response;

namespace {

constexpr int kCacheTimeoutMs = 15000;
const QString kSub = QStringLiteral(".cache/Quillfetch/QtWebEngine/Quillfetch");

QByteArray Bytes(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xff);
    return bytes;
}

QByteArray Gzipped(const QByteArray& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QByteArray Article() {
    QByteArray html = "<html><body>";
    for (int i = 0; i < 2000; ++i)
        html += "<p>paragraph " + QByteArray::number(i) + "</p>";
    return html + "</body></html>";
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool Exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

int RowOf(const KeyedListModel* list, const QString& text) {
    for (int i = 1; i <= list->Count(); ++i) {
        if (list->Text(i) == text)
            return i;
    }
    return 0;
}

QStringList Column(const KeyedListModel* list, int n) {
    QStringList out;
    for (int i = 1; i <= list->Count(); ++i)
        out << (n == 0 ? list->Text(i) : list->SubItem(i, n));
    return out;
}

// Loads the address in the page as a new navigation (loading the shown address again would
// be a reload, which asks the server whatever the cache holds).
bool Navigate(QWebEnginePage* page, const QString& url) {
    return LoadHtml(page, "<html><body>between</body></html>") && LoadUrl(page, QUrl(url));
}

// Runs `step` once the next modal dialog is up, then closes it.
void OnNextModal(std::function<void(QWidget*)> step) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        step(modal);
        modal->close();
    });
    timer->start();
}

} // namespace

class CacheViewerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void myCacheListsTheLoadedAddressesWithTheirBodies();
    void deletingSelectedEntriesKeepsCookiesAndTheBrowserWorking();
    void deleteAllKeepsCookieEntriesAndEmptiesTheRest();
    void deleteAllWithNothingToKeepLeavesAWorkingEmptyCache();
    void allUsersListsCacheFilesAndKeepsTextFiles();
    void deletingAllUsersCachesStaysOutOfLinkedFolders();
    void sortingBySizeOrdersByValue();
    void copySelectedHandsTheBodiesToTheCopyDialog();
    void copySelectedWithNothingSelectedOpensAnEmptyDialog();
    void clearBrowserCacheEmptiesEverythingAndSaysSoOnce();
    void clearingDoesNotDisturbAPageThatIsLoading();
    void theSearchWindowsMenuEntriesReachTheViewer();

private:
    void loadIntoCache(const QStringList& paths);
    QString ownDataFolder() const;
    std::unique_ptr<fIEcache> openViewer();
    // A home with this program's cache, beside a victim's folder reached only by links.
    void craftUsers();

    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<TestServices> services_;
    std::unique_ptr<QTemporaryDir> users_;
    QWebEnginePage* page_ = nullptr;
    int loaderSerial_ = 0;
    QString homes_;
    QString outside_;
    QString alice_;
};

void CacheViewerTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    server_ = std::make_unique<TestHttpServer>();
    auto cached = [](Response r) {
        return r.header("Cache-Control", "max-age=3600");
    };
    server_->route("/page.html", cached(Response::html("<html><body>hello cache</body></html>")));
    server_->route("/files/paper.pdf", cached(Response::bytes(Bytes(3000, 1), "application/pdf")));
    server_->route("/doi/pdf/science.abj1234",
                   cached(Response::bytes(Bytes(2000, 2), "application/pdf")));
    server_->route("/setCookie/x.js", cached(Response::bytes("var a = 1;", "text/javascript")));
    server_->route("/data/one.bin", cached(Response::bytes(Bytes(500, 3))));
    server_->route("/zipped/article.html", cached(Response::bytes(Gzipped(Article()), "text/html"))
                                               .header("Content-Encoding", "gzip"));
    server_->route("/favicon.ico", Response::statusPage(404).header("Cache-Control", "no-store"));
    users_ = std::make_unique<QTemporaryDir>();
    QVERIFY(users_->isValid());
    homes_ = users_->path() + "/home";
    outside_ = users_->path() + "/outside";
    alice_ = homes_ + "/alice/" + kSub;

    // The viewer looks for users' caches in the crafted homes and in this test's own home,
    // never in the machine's real ones.
    const QString own = BrowserProfile()->cachePath();
    UserCacheLayout layout;
    layout.profileRoots = {homes_ + "/"};
    layout.profileFolders = {TestHome() + "/"};
    layout.cacheSubPaths = {QDir(TestHome()).relativeFilePath(own), kSub};
    layout.ownCacheFolder = own;
    CacheViewerLayout() = layout;
    page_ = new QWebEnginePage(BrowserProfile());
}

void CacheViewerTest::init() {
    services_ = std::make_unique<TestServices>(TestServices::ClockKind::Real);
    server_->clearRequests();
}

void CacheViewerTest::cleanup() {
    // Each case starts from an empty cache.
    for (const CacheEntry& entry : ListCacheEntries(ownDataFolder()).entries)
        DeleteCacheEntryFiles(entry.filePath);
    QDir(homes_).removeRecursively();
    QDir(outside_).removeRecursively();
    services_.reset();
}

void CacheViewerTest::cleanupTestCase() {
    delete page_;
    Forms::DestroyAll();
    DestroyBrowserProfile();
    server_.reset();
}

QString CacheViewerTest::ownDataFolder() const {
    return BrowserProfile()->cachePath() + "/Cache/Cache_Data";
}

void CacheViewerTest::loadIntoCache(const QStringList& paths) {
    QStringList urls;
    for (const QString& p : paths)
        urls << '"' + server_->url(p) + '"';
    const QString loader = QStringLiteral("/loader%1.html").arg(++loaderSerial_);
    server_->route(loader,
                   Response::html("<html><body><script>window.done = false;"
                                  "Promise.all([" +
                                  urls.join(',') +
                                  "].map(u => fetch(u).then(r => r.arrayBuffer())))"
                                  ".then(() => { window.done = true; });</script></body></html>")
                       .header("Cache-Control", "no-store"));
    QVERIFY(LoadUrl(page_, QUrl(server_->url(loader))));
    QTRY_VERIFY_WITH_TIMEOUT(RunJs(page_, "window.done").toBool(), kCacheTimeoutMs);
    // The browser writes its entries shortly after the responses are complete.
    auto allWritten = [&] {
        QStringList addresses;
        for (const CacheEntry& entry : ListCacheEntries(ownDataFolder()).entries)
            addresses << entry.address;
        for (const QString& p : paths) {
            if (!addresses.contains(server_->url(p)))
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allWritten(), kCacheTimeoutMs);
}

std::unique_ptr<fIEcache> CacheViewerTest::openViewer() {
    auto viewer = std::make_unique<fIEcache>();
    viewer->Form_Load();
    return viewer;
}

void CacheViewerTest::craftUsers() {
    QVERIFY(WriteFile(outside_ + "/victim/important.pdf", "important"));
    QVERIFY(WriteFile(outside_ + "/victim/deeper/keep.doc", "keep"));
    QVERIFY(WriteFile(alice_ + "/Cache/Cache_Data/a.bin", Bytes(1000, 4)));
    QVERIFY(WriteFile(alice_ + "/Cache/Cache_Data/b.bin", Bytes(900, 5)));
    QVERIFY(WriteFile(alice_ + "/Cache/Cache_Data/c.bin", Bytes(5, 6)));
    QVERIFY(WriteFile(alice_ + "/Cache/Cache_Data/notes.TXT", "notes"));
    QVERIFY(WriteFile(alice_ + "/Cache/Cache_Data/index-dir/the-real-index", "i"));
    QVERIFY(QDir().mkpath(alice_ + "/Cache/empty/inner"));
    // Links inside the cache folder: to the victim's home, to "/", to a single file.
    QVERIFY(QFile::link(outside_ + "/victim", alice_ + "/Cache/trap"));
    QVERIFY(QFile::link("/", alice_ + "/rootlink"));
    QVERIFY(QFile::link(outside_ + "/victim/important.pdf", alice_ + "/important.pdf"));
    // A "home" that is itself a link to the victim's folder, which holds a cache folder.
    QVERIFY(WriteFile(outside_ + "/victim/" + kSub + "/bait.bin", "bait"));
    QVERIFY(QFile::link(outside_ + "/victim", homes_ + "/mallory"));
}

void CacheViewerTest::myCacheListsTheLoadedAddressesWithTheirBodies() {
    loadIntoCache({"/page.html", "/files/paper.pdf", "/setCookie/x.js"});
    auto viewer = openViewer();
    QCOMPARE(viewer->windowTitle(), QString("浏览器Cookie、缓存和历史列表-Quillfetch"));
    QCOMPARE(viewer->ListView1Tag, QString());
    viewer->Command1_Click();
    QCOMPARE(viewer->ListView1Tag, QString("我的缓存"));
    const KeyedListModel* list = viewer->ListItems1;
    QCOMPARE(viewer->Label1->text(), QString("共有%1 个文件").arg(list->Count()));

    struct Expected {
        QString path;
        QString type;
        QByteArray body;
    };
    const QList<Expected> expected{{"/page.html", "html", "<html><body>hello cache</body></html>"},
                                   {"/files/paper.pdf", "pdf", Bytes(3000, 1)},
                                   {"/setCookie/x.js", "js", "var a = 1;"}};
    for (const Expected& e : expected) {
        const int row = RowOf(list, server_->url(e.path));
        QVERIFY2(row > 0, qPrintable(e.path));
        QCOMPARE(list->SubItem(row, 1), e.type);
        QCOMPARE(list->SubItem(row, 2), QString::number(e.body.size()));
        const QString file = list->SubItem(row, 3);
        QVERIFY(file.startsWith(ownDataFolder() + "/"));
        QVERIFY(IsCacheEntryFileName(QFileInfo(file).fileName()));
        // The browser's own file, read by its layout, holds exactly what the server sent.
        const std::optional<CacheEntry> entry = ReadCacheEntry(file);
        QVERIFY(entry);
        QVERIFY(entry->key.endsWith(server_->url(e.path)));
        QCOMPARE(ReadCacheBody(*entry), std::optional<QByteArray>(e.body));
        QCOMPARE(entry->responseHead.value(0), QString("HTTP/1.1 200 OK"));
    }
}

void CacheViewerTest::deletingSelectedEntriesKeepsCookiesAndTheBrowserWorking() {
    loadIntoCache({"/page.html", "/files/paper.pdf", "/setCookie/x.js"});
    auto viewer = openViewer();
    viewer->Command1_Click();
    KeyedListModel* list = viewer->ListItems1;
    const int pageRow = RowOf(list, server_->url("/page.html"));
    const int cookieRow = RowOf(list, server_->url("/setCookie/x.js"));
    QVERIFY(pageRow > 0 && cookieRow > 0);
    const QString pageFile = list->SubItem(pageRow, 3);
    const QString cookieFile = list->SubItem(cookieRow, 3);
    list->SetSelected(pageRow, true);
    list->SetSelected(cookieRow, true);
    viewer->Command2_Click();

    // The listing is shown again: the page's entry is gone, the cookie address stays.
    QCOMPARE(viewer->ListView1Tag, QString("我的缓存"));
    QCOMPARE(RowOf(list, server_->url("/page.html")), 0);
    QVERIFY(RowOf(list, server_->url("/setCookie/x.js")) > 0);
    QVERIFY(RowOf(list, server_->url("/files/paper.pdf")) > 0);
    QVERIFY(!Exists(pageFile));
    QVERIFY(Exists(cookieFile));

    // The running browser takes the missing entry for a miss, fetches the page again and
    // caches it again; the next load comes from the cache.
    server_->clearRequests();
    QVERIFY(LoadUrl(page_, QUrl(server_->url("/page.html"))));
    QCOMPARE(server_->requestsFor("/page.html").size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(Exists(pageFile), kCacheTimeoutMs);
    QVERIFY(Navigate(page_, server_->url("/page.html")));
    QCOMPARE(server_->requestsFor("/page.html").size(), 1);
}

void CacheViewerTest::deleteAllKeepsCookieEntriesAndEmptiesTheRest() {
    loadIntoCache({"/page.html", "/files/paper.pdf", "/setCookie/x.js", "/data/one.bin"});
    auto viewer = openViewer();
    viewer->Command1_Click();
    viewer->Command3_Click();
    QCOMPARE(Column(viewer->ListItems1, 0), QStringList{server_->url("/setCookie/x.js")});
    QCOMPARE(viewer->Label1->text(), QString("共有1 个文件"));
    QCOMPARE(ListCacheEntries(ownDataFolder()).entries.size(), 1);
}

void CacheViewerTest::deleteAllWithNothingToKeepLeavesAWorkingEmptyCache() {
    loadIntoCache({"/page.html", "/files/paper.pdf", "/data/one.bin"});
    auto viewer = openViewer();
    viewer->Command1_Click();
    QVERIFY(viewer->ListItems1->Count() >= 3);
    viewer->Command3_Click();
    QCOMPARE(viewer->ListItems1->Count(), 0);
    QCOMPARE(viewer->Label1->text(), QString("共有0 个文件"));
    QVERIFY(ListCacheEntries(ownDataFolder()).entries.isEmpty());

    // The browser goes on caching as before.
    server_->clearRequests();
    QVERIFY(LoadUrl(page_, QUrl(server_->url("/page.html"))));
    QTRY_COMPARE_WITH_TIMEOUT(ListCacheEntries(ownDataFolder()).entries.size(), 1, kCacheTimeoutMs);
    QVERIFY(Navigate(page_, server_->url("/page.html")));
    QCOMPARE(server_->requestsFor("/page.html").size(), 1);
}

void CacheViewerTest::allUsersListsCacheFilesAndKeepsTextFiles() {
    craftUsers();
    loadIntoCache({"/page.html"});
    auto viewer = openViewer();
    viewer->Command7_Click();
    QCOMPARE(viewer->ListView1Tag, QString("所有缓存"));

    // alice and this test's own home; mallory's home is a link and is not looked into.
    const KeyedListModel* users = viewer->ListItems2;
    QCOMPARE(Column(users, 0), QStringList({"alice", QFileInfo(TestHome()).fileName()}));
    QCOMPARE(users->SubItem(1, 1), alice_);
    QCOMPARE(users->SubItem(2, 1), BrowserProfile()->cachePath());
    QVERIFY(viewer->CacheSubfolders.contains(alice_ + "/Cache/empty/inner"));
    QVERIFY(!viewer->CacheSubfolders.join('\n').contains("trap"));
    QCOMPARE(viewer->ListItems3->Count(), int(viewer->CacheSubfolders.size()));

    KeyedListModel* list = viewer->ListItems1;
    QCOMPARE(viewer->Label1->text(), QString("共有%1 个文件").arg(list->Count()));
    QStringList aliceFiles;
    for (int i = 1; i <= list->Count(); ++i) {
        const QString file = list->SubItem(i, 3);
        QVERIFY2(!file.contains("/trap/") && !file.contains("victim") && !file.endsWith("rootlink"),
                 qPrintable(file));
        QCOMPARE(list->SubItem(i, 2), QString::number(QFileInfo(file).size()));
        if (list->Text(i) == "用户:alice")
            aliceFiles << QDir(alice_).relativeFilePath(file);
    }
    aliceFiles.sort();
    QCOMPARE(
        aliceFiles,
        QStringList({"Cache/Cache_Data/a.bin", "Cache/Cache_Data/b.bin", "Cache/Cache_Data/c.bin",
                     "Cache/Cache_Data/index-dir/the-real-index", "Cache/Cache_Data/notes.TXT"}));
    const int txt = list->PositionOfKey(alice_ + "/Cache/Cache_Data/notes.TXT");
    QCOMPARE(list->SubItem(txt, 1), QString("TXT"));

    // Selected: the text file is kept, the other file goes.
    list->SetSelected(txt, true);
    list->SetSelected(list->PositionOfKey(alice_ + "/Cache/Cache_Data/a.bin"), true);
    viewer->Command2_Click();
    QVERIFY(Exists(alice_ + "/Cache/Cache_Data/notes.TXT"));
    QVERIFY(!Exists(alice_ + "/Cache/Cache_Data/a.bin"));
    QVERIFY(Exists(alice_ + "/Cache/Cache_Data/b.bin"));
    QCOMPARE(list->PositionOfKey(alice_ + "/Cache/Cache_Data/a.bin"), 0);
    QVERIFY(list->PositionOfKey(alice_ + "/Cache/Cache_Data/b.bin") > 0);
}

void CacheViewerTest::deletingAllUsersCachesStaysOutOfLinkedFolders() {
    craftUsers();
    loadIntoCache({"/page.html"});
    auto viewer = openViewer();
    viewer->Command7_Click();
    viewer->Command3_Click();

    // Every file of alice's cache but the text file is gone, and with them the folders
    // that were left empty; the links are neither followed nor removed.
    QStringList left;
    ListFiles(alice_, left, true);
    QCOMPARE(left, QStringList{alice_ + "/Cache/Cache_Data/notes.TXT"});
    QVERIFY(!Exists(alice_ + "/Cache/empty"));
    QVERIFY(!Exists(alice_ + "/Cache/Cache_Data/index-dir"));
    QVERIFY(QFileInfo(alice_ + "/Cache/trap").isSymLink());
    QVERIFY(QFileInfo(alice_ + "/rootlink").isSymLink());
    QVERIFY(QFileInfo(alice_ + "/important.pdf").isSymLink());
    QCOMPARE(ReadAll(outside_ + "/victim/important.pdf"), QByteArray("important"));
    QCOMPARE(ReadAll(outside_ + "/victim/deeper/keep.doc"), QByteArray("keep"));
    QCOMPARE(ReadAll(outside_ + "/victim/" + kSub + "/bait.bin"), QByteArray("bait"));
    QVERIFY(QFileInfo("/etc/hostname").exists() || QFileInfo("/etc/passwd").exists());

    // The listing shown again holds what is left: the text file and the running browser's
    // own bookkeeping.
    QCOMPARE(viewer->ListView1Tag, QString("所有缓存"));
    QVERIFY(viewer->ListItems1->PositionOfKey(alice_ + "/Cache/Cache_Data/notes.TXT") > 0);
    QVERIFY(ListCacheEntries(ownDataFolder()).entries.isEmpty());
    for (int i = 1; i <= viewer->ListItems1->Count(); ++i) {
        const QString file = viewer->ListItems1->SubItem(i, 3);
        QVERIFY2(file.endsWith(".TXT") || IsCacheBookkeepingFile(file), qPrintable(file));
    }

    // The running browser still caches.
    server_->clearRequests();
    QVERIFY(LoadUrl(page_, QUrl(server_->url("/page.html"))));
    QTRY_COMPARE_WITH_TIMEOUT(ListCacheEntries(ownDataFolder()).entries.size(), 1, kCacheTimeoutMs);
    QVERIFY(Navigate(page_, server_->url("/page.html")));
    QCOMPARE(server_->requestsFor("/page.html").size(), 1);
}

void CacheViewerTest::sortingBySizeOrdersByValue() {
    craftUsers();
    auto viewer = openViewer();
    viewer->Command7_Click();
    KeyedListModel* list = viewer->ListItems1;
    auto aliceSizes = [&] {
        QStringList sizes;
        for (int i = 1; i <= list->Count(); ++i) {
            if (list->SubItem(i, 3).endsWith(".bin"))
                sizes << list->SubItem(i, 2);
        }
        return sizes;
    };
    viewer->ListView1_ColumnClick(3);
    QCOMPARE(aliceSizes(), QStringList({"1000", "900", "5"}));
    viewer->ListView1_ColumnClick(3);
    QCOMPARE(aliceSizes(), QStringList({"5", "900", "1000"}));
    // One order for all columns: the next click, on another column, sorts descending again.
    viewer->ListView1_ColumnClick(4);
    const QStringList paths = Column(list, 3);
    QStringList descending = paths;
    std::sort(descending.begin(), descending.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) > 0;
    });
    QCOMPARE(paths, descending);
}

void CacheViewerTest::copySelectedHandsTheBodiesToTheCopyDialog() {
    const QStringList paths{"/page.html", "/files/paper.pdf", "/doi/pdf/science.abj1234",
                            "/zipped/article.html"};
    loadIntoCache(paths);
    auto viewer = openViewer();
    viewer->Command1_Click();
    KeyedListModel* list = viewer->ListItems1;
    for (const QString& path : paths)
        list->SetSelected(RowOf(list, server_->url(path)), true);
    // The cache keeps the article as it came over the wire, compressed.
    QCOMPARE(list->SubItem(RowOf(list, server_->url("/zipped/article.html")), 2),
             QString::number(Gzipped(Article()).size()));

    QTemporaryDir target;
    QString caption;
    QStringList sources;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<Form_Copy_Move*>(modal);
        QVERIFY(dialog);
        caption = dialog->windowTitle();
        sources = dialog->SourceFiles;
        dialog->HistoryFile = target.path() + "/SaveList.dat";
        dialog->Combo1->setEditText(target.path() + "/out");
        dialog->执行(false);
    });
    viewer->Command6_Click();

    QCOMPARE(caption, QString("复制文件：4 个文件..."));
    QCOMPARE(sources.size(), 4);
    QCOMPARE(ReadAll(target.path() + "/out/page.html"),
             QByteArray("<html><body>hello cache</body></html>"));
    QCOMPARE(ReadAll(target.path() + "/out/paper.pdf"), Bytes(3000, 1));
    QCOMPARE(ReadAll(target.path() + "/out/science.abj1234.pdf"), Bytes(2000, 2));
    QVERIFY(ReadAll(target.path() + "/out/article.html") == Article());
    // The bodies were written to a temporary folder that is gone again.
    for (const QString& source : std::as_const(sources))
        QVERIFY2(!Exists(source), qPrintable(source));
}

void CacheViewerTest::copySelectedWithNothingSelectedOpensAnEmptyDialog() {
    loadIntoCache({"/page.html"});
    auto viewer = openViewer();
    viewer->Command1_Click();
    QString caption;
    int files = -1;
    OnNextModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        if (auto* dialog = qobject_cast<Form_Copy_Move*>(modal))
            files = int(dialog->SourceFiles.size());
    });
    viewer->Command6_Click();
    QCOMPARE(caption, QString("复制文件：0 个文件..."));
    QCOMPARE(files, 0);
}

void CacheViewerTest::clearBrowserCacheEmptiesEverythingAndSaysSoOnce() {
    craftUsers();
    loadIntoCache({"/page.html", "/files/paper.pdf", "/data/one.bin"});
    bool viewerShown = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (fIEcache* v = LoadedCacheViewer())
            viewerShown = viewerShown || v->isVisible();
    });
    watch.start(5);
    ClearBrowserCache(true);
    watch.stop();

    QCOMPARE(services_->prompt.messages(), QStringList{"浏览器缓存清空完毕！"});
    QCOMPARE(services_->prompt.shown().at(0).icon, MsgIcon::Information);
    QVERIFY(!viewerShown);
    QVERIFY(!LoadedCacheViewer());
    QVERIFY(ListCacheEntries(ownDataFolder()).entries.isEmpty());
    QStringList left;
    ListFiles(alice_, left, true);
    QCOMPARE(left, QStringList{alice_ + "/Cache/Cache_Data/notes.TXT"});
    QCOMPARE(ReadAll(outside_ + "/victim/important.pdf"), QByteArray("important"));

    services_->prompt.clear();
    ClearBrowserCache(false);
    QVERIFY(services_->prompt.shown().isEmpty());
}

void CacheViewerTest::clearingDoesNotDisturbAPageThatIsLoading() {
    loadIntoCache({"/page.html", "/files/paper.pdf"});
    server_->route("/slow.html", Response::html("<html><body>slow page</body></html>")
                                     .delayHeaders(1500)
                                     .header("Cache-Control", "max-age=3600"));
    PageLoadWaiter loading(page_);
    page_->load(QUrl(server_->url("/slow.html")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->requestsFor("/slow.html").size(), 1, kCacheTimeoutMs);
    ClearBrowserCache(false);
    QVERIFY(ListCacheEntries(ownDataFolder()).entries.isEmpty());
    QVERIFY(loading.wait(kCacheTimeoutMs));
    QCOMPARE(RunJs(page_, "document.body.innerText").toString(), QString("slow page"));
    // And the next pages load and are cached as before.
    loadIntoCache({"/page.html", "/data/one.bin"});
}

void CacheViewerTest::theSearchWindowsMenuEntriesReachTheViewer() {
    loadIntoCache({"/page.html"});
    fWebSearch* search = Forms::fWebSearch();
    QVERIFY(search);
    QMenu* tools = search->menu工具;
    QAction* view = nullptr;
    QAction* clear = nullptr;
    for (QAction* action : tools->actions()) {
        if (action->text() == "查看浏览器缓存")
            view = action;
        if (action->text() == "清空浏览器缓存")
            clear = action;
    }
    QVERIFY(view && view->isEnabled());
    QVERIFY(clear && clear->isEnabled());

    QString title;
    int rows = -1;
    OnNextModal([&](QWidget* modal) {
        title = modal->windowTitle();
        if (auto* viewer = qobject_cast<fIEcache*>(modal)) {
            QCOMPARE(viewer, LoadedCacheViewer());
            viewer->Command1_Click();
            rows = viewer->ListItems1->Count();
        }
    });
    view->trigger();
    QCOMPARE(title, QString("浏览器Cookie、缓存和历史列表-Quillfetch"));
    QVERIFY(rows >= 1);
    QTRY_VERIFY(!LoadedCacheViewer());

    clear->trigger();
    QCOMPARE(services_->prompt.messages(), QStringList{"浏览器缓存清空完毕！"});
    QVERIFY(ListCacheEntries(ownDataFolder()).entries.isEmpty());
    Forms::Unload(search);
}

QF_TEST_MAIN(CacheViewerTest)
#include "test_cacheviewer.moc"
