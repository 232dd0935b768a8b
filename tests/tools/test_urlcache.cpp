#include "TestEnvironment.h"

#include "core/tools/UrlCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <brotli/encode.h>
#include <zlib.h>

#include <memory>

// The cache format as the browser writes it (checked against a real cache in
// test_cacheviewer), the folder walks with their link traps, and the delete rules.

namespace {

QByteArray U32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray U64(quint64 value) {
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray EndRecord(quint32 flags, quint32 size) {
    return U64(0xf4fa6f45970d41d8ULL) + U32(flags) + U32(0x12345678) + U32(size) + U32(0);
}

// An entry file laid out as the simple cache lays it out.
QByteArray EntryBytes(const QByteArray& key, const QByteArray& body,
                      const QByteArray& contentType = "text/html", bool withKeyHash = true,
                      const QByteArray& contentEncoding = {}) {
    QByteArray head = U32(0) + U32(3) + QByteArray("HTTP/1.1 200 OK") + '\0' +
                      QByteArray("Content-Type: ") + contentType + '\0';
    if (!contentEncoding.isEmpty())
        head += QByteArray("Content-Encoding: ") + contentEncoding + '\0';
    head += QByteArray(1, '\0') + U32(9);
    QByteArray bytes =
        U64(0xfcfb6d1ba7725c30ULL) + U32(5) + U32(quint32(key.size())) + U32(0xabcdef01) + U32(0);
    bytes += key + body + EndRecord(1, quint32(body.size()));
    bytes += head;
    if (withKeyHash)
        bytes += QByteArray(32, '\x5a');
    bytes += EndRecord(withKeyHash ? 3 : 1, quint32(head.size()));
    return bytes;
}

// `bytes` compressed with zlib: `windowBits` 16 + MAX_WBITS gives gzip, MAX_WBITS the zlib
// format.
QByteArray Deflated(const QByteArray& bytes, int windowBits) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
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

QByteArray Brotli(const QByteArray& bytes) {
    size_t size = BrotliEncoderMaxCompressedSize(size_t(bytes.size()));
    QByteArray out(qsizetype(size), '\0');
    BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, size_t(bytes.size()),
                          reinterpret_cast<const uint8_t*>(bytes.constData()), &size,
                          reinterpret_cast<uint8_t*>(out.data()));
    out.resize(qsizetype(size));
    return out;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool Link(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    return QFile::link(target, link);
}

bool Exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

QStringList Relative(const QString& base, const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out << QDir(base).relativeFilePath(p);
    out.sort();
    return out;
}

const QString kSub = QStringLiteral(".cache/Quillfetch/QtWebEngine/Quillfetch");

} // namespace

class UrlCacheTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void urlFileTypeNamesTheFileOfAnAddressOrPath_data();
    void urlFileTypeNamesTheFileOfAnAddressOrPath();
    void theAddressIsFoundBehindTheKeysPrefixes_data();
    void theAddressIsFoundBehindTheKeysPrefixes();
    void anEntryFileGivesItsAddressBodyAndHead();
    void onlyCompleteEntryFilesAreListed();
    void deletingAnEntryRemovesItsFilesOnly();
    void aSavedBodyHasItsTransferCompressionUndone_data();
    void aSavedBodyHasItsTransferCompressionUndone();
    void aBodyIsNamedAfterItsAddress_data();
    void aBodyIsNamedAfterItsAddress();
    void theLayoutFollowsTheSystemAndTheOwnCache_data();
    void theLayoutFollowsTheSystemAndTheOwnCache();
    void cacheFoldersThatLeadOutOfTheirHomeAreNotListed();
    void walksNeverFollowLinks();
    void deletionsStayInsideTheCacheFolders();
    void aFolderSwappedForALinkLeadsNothingOut_data();
    void aFolderSwappedForALinkLeadsNothingOut();
    void theDeleteRuleKeepsCookiesAndTextFiles_data();
    void theDeleteRuleKeepsCookiesAndTextFiles();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString root() const { return dir_->path(); }
};

void UrlCacheTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void UrlCacheTest::urlFileTypeNamesTheFileOfAnAddressOrPath_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("type");
    QTest::newRow("query") << "https://h.org/files/paper.pdf?x=1"
                           << "pdf";
    QTest::newRow("second address in the query") << "http://h/a.pdf?u=http://other.org/b.doc"
                                                 << "pdf";
    QTest::newRow("fragment") << "http://h/a.html#part.pdf"
                              << "html";
    QTest::newRow("script with a file parameter") << "http://h/get.php?file=a.pdf"
                                                  << "php";
    QTest::newRow("stream suffix") << "http://h/x.pdf:Zone"
                                   << "pdf";
    QTest::newRow("folder") << "http://h/dir/"
                            << "";
    QTest::newRow("long extension") << "http://h/science.abj1234"
                                    << "";
    QTest::newRow("six letters") << "http://h/x.abcdef"
                                 << "abcdef";
    QTest::newRow("path with capitals") << "/home/u/.cache/a/notes.TXT"
                                        << "TXT";
    QTest::newRow("blanks trimmed") << "http://h/file. pdf "
                                    << "pdf";
    QTest::newRow("no dot") << "http://h/abstract"
                            << "";
    QTest::newRow("host only") << "http://www.science.org"
                               << "org";
    QTest::newRow("line break") << "http://h/a.pdf\r\nx.doc"
                                << "pdf";
}

void UrlCacheTest::urlFileTypeNamesTheFileOfAnAddressOrPath() {
    QFETCH(QString, text);
    QFETCH(QString, type);
    QCOMPARE(UrlFileType(text), type);
}

void UrlCacheTest::theAddressIsFoundBehindTheKeysPrefixes_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "1/0/http://h/x.pdf"
                           << "http://h/x.pdf";
    QTest::newRow("partitioned") << "1/0/_dk_http://a.org http://a.org http://b.org/x.pdf"
                                 << "http://b.org/x.pdf";
    QTest::newRow("partitioned sub-frame") << "_dk_s_http://a http://b http://c/y"
                                           << "http://c/y";
    QTest::newRow("no prefix") << "http://h/"
                               << "http://h/";
    QTest::newRow("one group") << "12/http://h/z"
                               << "http://h/z";
}

void UrlCacheTest::theAddressIsFoundBehindTheKeysPrefixes() {
    QFETCH(QString, key);
    QFETCH(QString, address);
    QCOMPARE(AddressFromCacheKey(key), address);
}

void UrlCacheTest::anEntryFileGivesItsAddressBodyAndHead() {
    const QString path = root() + "/0123456789abcdef_0";
    const QByteArray body("%PDF-1.4 some bytes\0with a NUL", 30);
    QVERIFY(WriteFile(path, EntryBytes("1/0/http://h/files/paper.pdf", body, "application/pdf")));
    const std::optional<CacheEntry> entry = ReadCacheEntry(path);
    QVERIFY(entry);
    QCOMPARE(entry->address, QString("http://h/files/paper.pdf"));
    QCOMPARE(entry->key, QString("1/0/http://h/files/paper.pdf"));
    QCOMPARE(entry->bodySize, qint64(body.size()));
    QCOMPARE(ReadCacheBody(*entry), std::optional<QByteArray>(body));
    QCOMPARE(entry->responseHead.value(0), QString("HTTP/1.1 200 OK"));
    QCOMPARE(entry->header("content-type"), QString("application/pdf"));
    QCOMPARE(entry->header("Content-Length"), QString());

    const QString saved = root() + "/out/paper.pdf";
    QDir().mkpath(root() + "/out");
    QVERIFY(SaveCacheBody(*entry, saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), body);

    // Without the key's hash the head ends right before the last record.
    QVERIFY(WriteFile(path, EntryBytes("1/0/http://h/", "x", "text/html", false)));
    const std::optional<CacheEntry> plain = ReadCacheEntry(path);
    QVERIFY(plain);
    QCOMPARE(plain->bodySize, qint64(1));
    QCOMPARE(plain->header("Content-Type"), QString("text/html"));
}

void UrlCacheTest::onlyCompleteEntryFilesAreListed() {
    const QString data = root() + "/Cache/Cache_Data";
    const QByteArray good = EntryBytes("1/0/http://h/a.html", "<p>a</p>");
    QVERIFY(WriteFile(data + "/aaaaaaaaaaaaaaaa_0", good));
    QVERIFY(WriteFile(data + "/bbbbbbbbbbbbbbbb_0", good.left(good.size() - 3))); // cut short
    QByteArray wrongMagic = good;
    wrongMagic[0] = 'X';
    QVERIFY(WriteFile(data + "/cccccccccccccccc_0", wrongMagic));
    QByteArray badLength = good;
    qToLittleEndian(quint32(0x7fffffff), badLength.data() + 12);
    QVERIFY(WriteFile(data + "/dddddddddddddddd_0", badLength));
    // The fake index starts with the same magic; it is no entry.
    QVERIFY(WriteFile(data + "/index", good));
    QVERIFY(WriteFile(data + "/aaaaaaaaaaaaaaaa_1", "stream two"));
    QVERIFY(WriteFile(data + "/AAAAAAAAAAAAAAAA_0", good)); // not how the cache names files
    QVERIFY(WriteFile(root() + "/elsewhere/eeeeeeeeeeeeeeee_0",
                      EntryBytes("1/0/http://h/secret", "s")));
    QVERIFY(Link(root() + "/elsewhere/eeeeeeeeeeeeeeee_0", data + "/eeeeeeeeeeeeeeee_0"));

    const CacheListing listing = ListCacheEntries(data);
    QVERIFY(listing.ok);
    QCOMPARE(listing.entries.size(), 1);
    QCOMPARE(listing.entries.at(0).address, QString("http://h/a.html"));

    const CacheListing none = ListCacheEntries(root() + "/never-made");
    QVERIFY(none.ok);
    QVERIFY(none.entries.isEmpty());
    const CacheListing file = ListCacheEntries(data + "/index");
    QVERIFY(!file.ok);
}

void UrlCacheTest::deletingAnEntryRemovesItsFilesOnly() {
    const QString data = root() + "/Cache/Cache_Data";
    const QString stem = data + "/aaaaaaaaaaaaaaaa";
    QVERIFY(WriteFile(stem + "_0", EntryBytes("1/0/http://h/a", "a")));
    QVERIFY(WriteFile(stem + "_1", "two"));
    QVERIFY(WriteFile(stem + "_s", "sparse"));
    QVERIFY(WriteFile(data + "/bbbbbbbbbbbbbbbb_0", EntryBytes("1/0/http://h/b", "b")));
    QVERIFY(WriteFile(data + "/index", "i"));
    QVERIFY(DeleteCacheEntryFiles(stem + "_0"));
    QVERIFY(!Exists(stem + "_0"));
    QVERIFY(!Exists(stem + "_1"));
    QVERIFY(!Exists(stem + "_s"));
    QVERIFY(Exists(data + "/bbbbbbbbbbbbbbbb_0"));
    QVERIFY(Exists(data + "/index"));
    QVERIFY(!DeleteCacheEntryFiles(data + "/index"));
    QVERIFY(Exists(data + "/index"));

    QVERIFY(IsCacheBookkeepingFile(data + "/index"));
    QVERIFY(IsCacheBookkeepingFile(data + "/index-dir/the-real-index"));
    QVERIFY(!IsCacheBookkeepingFile(data + "/bbbbbbbbbbbbbbbb_0"));
}

void UrlCacheTest::aSavedBodyHasItsTransferCompressionUndone_data() {
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("saved");
    // Large enough to take several rounds of the decoders' buffers.
    QByteArray page;
    for (int i = 0; page.size() < 1024 * 1024; ++i)
        page += "<p>line " + QByteArray::number(i) + " of the article</p>\n";
    QTest::newRow("gzip") << QByteArray("gzip") << Deflated(page, 16 + MAX_WBITS) << page;
    QTest::newRow("deflate") << QByteArray("Deflate") << Deflated(page, MAX_WBITS) << page;
    QTest::newRow("brotli") << QByteArray("br") << Brotli(page) << page;
    QTest::newRow("none") << QByteArray() << page << page;
    QTest::newRow("unknown encoding kept")
        << QByteArray("zstd") << QByteArray("\x28\xb5") << QByteArray("\x28\xb5");
    const QByteArray broken = Deflated(page, 16 + MAX_WBITS).left(1000);
    QTest::newRow("broken stream kept as stored") << QByteArray("gzip") << broken << broken;
    const QByteArray junk("this is not compressed");
    QTest::newRow("not compressed after all") << QByteArray("br") << junk << junk;
}

void UrlCacheTest::aSavedBodyHasItsTransferCompressionUndone() {
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, saved);
    const QString path = root() + "/0123456789abcdef_0";
    QVERIFY(
        WriteFile(path, EntryBytes("1/0/http://h/a.html", stored, "text/html", true, encoding)));
    const std::optional<CacheEntry> entry = ReadCacheEntry(path);
    QVERIFY(entry);
    QCOMPARE(entry->bodySize, qint64(stored.size()));
    QVERIFY(SaveCacheBody(*entry, root() + "/a.html"));
    QFile file(root() + "/a.html");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == saved);
    QCOMPARE(QDir(root()).entryList(QDir::Files).size(), 2); // no temporary file left
}

void UrlCacheTest::aBodyIsNamedAfterItsAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("name");
    QTest::newRow("file name") << "http://h/files/paper.pdf?x=1" << QByteArray("application/pdf")
                               << "paper.pdf";
    QTest::newRow("typeless name gets the served type")
        << "https://www.science.org/doi/pdf/10.1126/science.abj1234"
        << QByteArray("application/pdf") << "science.abj1234.pdf";
    QTest::newRow("site root") << "http://127.0.0.1:8080/" << QByteArray("text/html; charset=utf-8")
                               << "127.0.0.1.html";
    QTest::newRow("escaped") << "http://h/a%20b.pdf" << QByteArray("application/pdf") << "a b.pdf";
    QTest::newRow("characters a name cannot hold")
        << "http://h/we%3Aird%2A.pdf" << QByteArray("application/pdf") << "weird.pdf";
    QTest::newRow("parent folder") << "http://h/%2E%2E" << QByteArray("text/plain") << "h.txt";
    QTest::newRow("unknown type") << "http://h/x" << QByteArray("application/x-thing") << "x";
}

void UrlCacheTest::aBodyIsNamedAfterItsAddress() {
    QFETCH(QString, address);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, name);
    const QString path = root() + "/0123456789abcdef_0";
    QVERIFY(WriteFile(path, EntryBytes("1/0/" + address.toUtf8(), "b", contentType)));
    const std::optional<CacheEntry> entry = ReadCacheEntry(path);
    QVERIFY(entry);
    QCOMPARE(CacheBodyFileName(*entry), name);
}

void UrlCacheTest::theLayoutFollowsTheSystemAndTheOwnCache_data() {
    QTest::addColumn<QString>("osText");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("own");
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QStringList>("homes");
    QTest::addColumn<QStringList>("subPaths");
    QTest::newRow("Linux") << "Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0)[64位]"
                           << "/home/ann"
                           << "/home/ann/.cache/Quillfetch/QtWebEngine/Quillfetch"
                           << QStringList{"/home/"} << QStringList{"/root/", "/home/ann/"}
                           << QStringList{kSub};
    QTest::newRow("cache moved elsewhere")
        << "Linux 6.1.0"
        << "/home/ann/"
        << "/var/cache/ann/QtWebEngine/Quillfetch" << QStringList{"/home/"}
        << QStringList{"/root/", "/home/ann/"} << QStringList{kSub};
    QTest::newRow("cache under another name")
        << "Linux 6.1.0"
        << "/home/ann"
        << "/home/ann/cache/qf/QtWebEngine/Quillfetch/" << QStringList{"/home/"}
        << QStringList{"/root/", "/home/ann/"}
        << QStringList{"cache/qf/QtWebEngine/Quillfetch", kSub};
    QTest::newRow("another system")
        << "FreeBSD 13.2[64位]"
        << "/usr/home/ann"
        << "/usr/home/ann/.cache/Quillfetch/QtWebEngine/Quillfetch" << QStringList{"/usr/home/"}
        << QStringList{"/usr/home/ann/"} << QStringList{kSub};
}

void UrlCacheTest::theLayoutFollowsTheSystemAndTheOwnCache() {
    QFETCH(QString, osText);
    QFETCH(QString, home);
    QFETCH(QString, own);
    QFETCH(QStringList, roots);
    QFETCH(QStringList, homes);
    QFETCH(QStringList, subPaths);
    const UserCacheLayout layout = UserCacheLayoutFor(osText, home, own);
    QCOMPARE(layout.profileRoots, roots);
    QCOMPARE(layout.profileFolders, homes);
    QCOMPARE(layout.cacheSubPaths, subPaths);
}

void UrlCacheTest::cacheFoldersThatLeadOutOfTheirHomeAreNotListed() {
    const QString homes = root() + "/home";
    const QString outside = root() + "/outside";
    QVERIFY(WriteFile(outside + "/victim/" + kSub + "/precious.pdf", "precious"));
    QVERIFY(WriteFile(homes + "/alice/" + kSub + "/Cache/Cache_Data/aaaaaaaaaaaaaaaa_0", "a"));
    // bob's home is a link: his name on the list would lead into someone else's files.
    QVERIFY(Link(outside + "/victim", homes + "/bob"));
    // carol's cache folder leads out of her home.
    QDir().mkpath(homes + "/carol/.cache/Quillfetch/QtWebEngine");
    QVERIFY(Link(outside + "/victim/" + kSub, homes + "/carol/" + kSub));
    // dave's cache folder leads to the file system's root.
    QDir().mkpath(homes + "/dave/.cache/Quillfetch/QtWebEngine");
    QVERIFY(Link("/", homes + "/dave/" + kSub));
    // erin keeps her .cache on another folder of her own home: that is still hers.
    QVERIFY(WriteFile(homes + "/erin/disk/cache/Quillfetch/QtWebEngine/Quillfetch/x_0", "e"));
    QVERIFY(Link(homes + "/erin/disk/cache", homes + "/erin/.cache"));
    QDir().mkpath(homes + "/frank"); // no cache at all
    // The running user reaches the own cache through a link to another disk.
    const QString runningHome = root() + "/me";
    QVERIFY(WriteFile(outside + "/disk/me-cache/Quillfetch/QtWebEngine/Quillfetch/m_0", "m"));
    QDir().mkpath(runningHome);
    QVERIFY(Link(outside + "/disk/me-cache", runningHome + "/.cache"));

    UserCacheLayout layout;
    layout.profileRoots = {homes + "/"};
    layout.profileFolders = {runningHome + "/", homes + "/alice"}; // alice twice: listed once
    layout.cacheSubPaths = {kSub};
    layout.ownCacheFolder = runningHome + "/" + kSub;
    QStringList profiles;
    const QList<UserCacheFolder> found = FindUserCacheFolders(layout, &profiles);
    QStringList names;
    QStringList folders;
    for (const UserCacheFolder& f : found) {
        names << f.userName;
        folders << f.folder;
    }
    QCOMPARE(names, QStringList({"alice", "erin", "me"}));
    QCOMPARE(folders, QStringList({homes + "/alice/" + kSub, homes + "/erin/" + kSub,
                                   runningHome + "/" + kSub}));
    QCOMPARE(Relative(root(), profiles), QStringList({"home/alice", "home/carol", "home/dave",
                                                      "home/erin", "home/frank", "me"}));
}

void UrlCacheTest::walksNeverFollowLinks() {
    const QString cache = root() + "/cache";
    const QString outside = root() + "/outside";
    QVERIFY(WriteFile(outside + "/home/important.pdf", "important"));
    QVERIFY(WriteFile(outside + "/home/deeper/keep.doc", "keep"));
    QVERIFY(WriteFile(cache + "/Cache/Cache_Data/aaaaaaaaaaaaaaaa_0", "a"));
    QVERIFY(WriteFile(cache + "/Cache/Cache_Data/index-dir/the-real-index", "i"));
    QVERIFY(WriteFile(cache + "/.hidden/h.bin", "h"));
    QVERIFY(WriteFile(cache + "/pagefile.sys", "p"));
    QVERIFY(Link(outside + "/home", cache + "/Cache/trap"));
    QVERIFY(Link("/", cache + "/rootlink"));
    QVERIFY(Link(outside + "/home/important.pdf", cache + "/filelink.pdf"));
    QVERIFY(Link(root() + "/nowhere", cache + "/dangling"));

    QStringList folders;
    ListSubfolders(cache, folders, true);
    QCOMPARE(Relative(cache, folders),
             QStringList({".hidden", "Cache", "Cache/Cache_Data", "Cache/Cache_Data/index-dir"}));
    // Each folder comes before its own sub-folders.
    QVERIFY(folders.indexOf(cache + "/Cache") < folders.indexOf(cache + "/Cache/Cache_Data"));

    QStringList files;
    ListFiles(cache + "/", files, true);
    QCOMPARE(Relative(cache, files),
             QStringList({".hidden/h.bin", "Cache/Cache_Data/aaaaaaaaaaaaaaaa_0",
                          "Cache/Cache_Data/index-dir/the-real-index"}));

    QStringList flat;
    ListFiles(cache, flat, false);
    QVERIFY(flat.isEmpty());

    // A folder given as a link is not walked at all, nor is a relative one.
    QStringList throughLink;
    ListFiles(cache + "/Cache/trap", throughLink, true);
    ListSubfolders(cache + "/rootlink", throughLink, false);
    ListFiles(QDir(QDir::currentPath()).relativeFilePath(cache), throughLink, true);
    QVERIFY(throughLink.isEmpty());
}

void UrlCacheTest::deletionsStayInsideTheCacheFolders() {
    const QString cache = root() + "/cache";
    const QString outside = root() + "/outside";
    QVERIFY(WriteFile(outside + "/home/important.pdf", "important"));
    QVERIFY(WriteFile(cache + "/Cache/x.bin", "x"));
    QVERIFY(WriteFile(cache + "/other/y.bin", "y"));
    QDir().mkpath(cache + "/Cache/empty/inner");
    QVERIFY(Link(outside + "/home", cache + "/trap"));
    QVERIFY(Link(outside + "/home/important.pdf", cache + "/filelink.pdf"));
    const QStringList allowed{cache + "/Cache"};

    QVERIFY(!ForceDeleteFile(cache + "/trap/important.pdf", allowed));
    QVERIFY(!ForceDeleteFile(cache + "/trap/important.pdf", {cache}));
    QVERIFY(!ForceDeleteFile(outside + "/home/important.pdf", allowed));
    QVERIFY(!ForceDeleteFile(cache + "/filelink.pdf", {cache}));
    QVERIFY(Exists(cache + "/filelink.pdf"));
    QVERIFY(!ForceDeleteFile(cache + "/other/y.bin", allowed));
    QVERIFY(!ForceDeleteFile(cache + "/Cache/empty", allowed));
    QVERIFY(!ForceDeleteFile(cache + "/Cache/../other/y.bin", allowed));
    QVERIFY(ForceDeleteFile(cache + "/Cache/x.bin", allowed));
    QVERIFY(!Exists(cache + "/Cache/x.bin"));
    QVERIFY(Exists(outside + "/home/important.pdf"));
    QVERIFY(Exists(cache + "/other/y.bin"));

    QVERIFY(!RemoveEmptyFolder(cache + "/trap", {cache}));
    QVERIFY(Exists(cache + "/trap"));
    QVERIFY(!RemoveEmptyFolder(cache + "/Cache/empty", allowed)); // not empty
    QVERIFY(RemoveEmptyFolder(cache + "/Cache/empty/inner", allowed));
    QVERIFY(RemoveEmptyFolder(cache + "/Cache/empty/", allowed));
    QVERIFY(!Exists(cache + "/Cache/empty"));
    QDir().mkpath(root() + "/loose");
    QVERIFY(!RemoveEmptyFolder(root() + "/loose", allowed));
    QVERIFY(!RemoveEmptyFolder(cache + "/Cache", allowed)); // the cache folder itself stays
    QVERIFY(Exists(cache + "/Cache"));
}

void UrlCacheTest::aFolderSwappedForALinkLeadsNothingOut_data() {
    QTest::addColumn<QString>("swapWhen");
    QTest::addColumn<int>("listed");
    QTest::addColumn<int>("copied");
    QTest::addColumn<int>("deleted");
    // Another user swaps a folder of their cache for a link to files that only root may
    // read or delete, named as the cache's files were.
    QTest::newRow("sub-folder swapped between listing and deleting") << "listed" << 1 << 0 << 0;
    // The deletion holds the folder it checked the entry in: the entry deleted is the
    // checked one, moved away with its folder.
    QTest::newRow("sub-folder swapped after the entry was checked") << "deleting" << 1 << 1 << 1;
    QTest::newRow("sub-folder swapped as the walk enters it") << "entering" << 0 << 0 << 0;
    // The cache folder found inside its home stays the folder worked on.
    QTest::newRow("cache folder swapped after it was found") << "found" << 1 << 1 << 1;
}

void UrlCacheTest::aFolderSwappedForALinkLeadsNothingOut() {
    QFETCH(QString, swapWhen);
    QFETCH(int, listed);
    QFETCH(int, copied);
    QFETCH(int, deleted);
    const QString home = root() + "/home/bob";
    const QString cache = home + "/" + kSub;
    const QString entry = "Cache/Cache_Data/aaaaaaaaaaaaaaaa_0";
    const QString outside = root() + "/outside";
    QVERIFY(WriteFile(cache + "/" + entry, "cached"));
    QVERIFY(WriteFile(outside + "/" + entry, "precious"));
    auto swap = [&](const QString& folder) {
        QVERIFY(QDir().rename(cache + "/" + folder, cache + "/" + folder + ".moved"));
        QVERIFY(Link(outside + "/" + folder, cache + "/" + folder));
    };

    UserCacheLayout layout;
    layout.profileRoots = {root() + "/home/"};
    layout.cacheSubPaths = {kSub};
    const QList<UserCacheFolder> found = FindUserCacheFolders(layout);
    QCOMPARE(found.size(), 1);
    QVERIFY(found.first().opened);
    const CacheFolders folders{found.first().opened};
    if (swapWhen == "found") {
        QVERIFY(QDir().rename(cache, cache + ".moved"));
        QVERIFY(Link(outside, cache));
    }

    bool swapped = false;
    SetCacheWalkHook([&](CacheWalkStep step, const QString& path) {
        const bool entering = step == CacheWalkStep::EnteringFolder && swapWhen == "entering";
        const bool deleting = step == CacheWalkStep::Deleting && swapWhen == "deleting";
        if (!swapped && (entering || deleting) && path.contains("Cache_Data")) {
            swapped = true;
            swap("Cache/Cache_Data");
        }
    });
    QStringList files;
    found.first().opened->list(files, true, CacheFolder::Wanted::Files);
    if (swapWhen == "listed")
        swap("Cache/Cache_Data");
    int copies = 0;
    for (const QString& file : std::as_const(files)) {
        const QString copy = root() + "/copy" + QString::number(copies);
        if (found.first().opened->copyFile(file, copy)) {
            QFile made(copy);
            QVERIFY(made.open(QIODevice::ReadOnly));
            QCOMPARE(made.readAll(), QByteArray("cached"));
            ++copies;
        }
    }
    int done = 0;
    for (const QString& file : std::as_const(files))
        done += ForceDeleteFile(file, folders) ? 1 : 0;
    for (const QString& folder : {cache + "/Cache/Cache_Data", cache + "/Cache"})
        RemoveEmptyFolder(folder, folders);
    SetCacheWalkHook({});

    QCOMPARE(files.size(), listed);
    QCOMPARE(copies, copied);
    QCOMPARE(done, deleted);
    QFile precious(outside + "/" + entry);
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("precious"));
}

void UrlCacheTest::theDeleteRuleKeepsCookiesAndTextFiles_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<int>("action");
    const int keep = int(CacheRowAction::Keep);
    const int file = int(CacheRowAction::DeleteFile);
    const int entry = int(CacheRowAction::DeleteEntry);
    QTest::newRow("cached file") << "用户:alice"
                                 << "pdf"
                                 << "/c/a" << file;
    QTest::newRow("cached text file") << "用户:alice"
                                      << "TXT"
                                      << "/c/a.txt" << keep;
    QTest::newRow("cached file without path") << "用户:alice"
                                              << "pdf"
                                              << "" << keep;
    QTest::newRow("entry") << "http://h/x.pdf"
                           << "pdf"
                           << "/c/e_0" << entry;
    QTest::newRow("entry without file") << "http://h/x.pdf"
                                        << "pdf"
                                        << "" << entry;
    QTest::newRow("cookie address") << "http://h/setCOOKIE.js"
                                    << "js"
                                    << "/c/e_0" << keep;
    QTest::newRow("text entry") << "http://h/readme.txt"
                                << "txt"
                                << "/c/e_0" << entry;
    QTest::newRow("empty row") << ""
                               << ""
                               << "" << keep;
}

void UrlCacheTest::theDeleteRuleKeepsCookiesAndTextFiles() {
    QFETCH(QString, text);
    QFETCH(QString, type);
    QFETCH(QString, filePath);
    QFETCH(int, action);
    QCOMPARE(int(CacheRowActionFor(text, type, filePath)), action);
}

QF_TEST_GUILESS_MAIN(UrlCacheTest)
#include "test_urlcache.moc"
