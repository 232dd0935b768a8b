// Writes the seed corpora of the fuzz targets into <folder>/<target>/: the kinds of input the
// tests feed the same code (files of each known type, cache entries laid out as the browser
// writes them, page copies of both site generations, links, headers and names).
//
//   fuzz_seeds <folder>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QtEndian>

#include <brotli/encode.h>

#include <cstdio>

namespace {

QString gFolder;
bool gOk = true;

void Seed(const char* target, const QString& name, const QByteArray& bytes) {
    const QString folder = gFolder + '/' + QLatin1String(target);
    QDir().mkpath(folder);
    QFile file(folder + '/' + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        gOk = false;
    }
}

QByteArray Sized(QByteArray start, int size, char fill = '\0') {
    start.append(QByteArray(qMax(0, size - int(start.size())), fill));
    return start;
}

// --- Files of each known type ---

void FileTypeSeeds() {
    const QByteArray page = "<!DOCTYPE html>\n<html lang=\"en\"><head><title>Sign in</title>"
                            "</head><body><p>Please sign in.</p></body></html>\n";
    QByteArray tag = Sized("TAG" + QByteArray("Title"), 128, ' ');
    const QList<std::pair<QString, QByteArray>> files{
        {"pdf", "%PDF-1.7\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n%%EOF\n"},
        {"caj", Sized(QByteArray("\xC8\x00\x00\x00", 4), 300, ' ')},
        {"kdh", Sized("KDH 2.0 document", 300)},
        {"nh", Sized(QByteArray("HN\0\0", 4), 300, '\x01')},
        {"tif", Sized(QByteArray("II*\0\x08\0\0\0", 8), 300)},
        {"exe", Sized(QByteArray("MZ\x90\0\x03\0\0\0", 8), 512)},
        {"zip", Sized(QByteArray("PK\x03\x04\x14\0\0\0\x08\0", 10), 120, 'z')},
        {"docx", Sized(QByteArray("PK\x03\x04\x14\0\x06\0\x08\0", 10), 120, 'd')},
        {"png", Sized(QByteArray("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), 64)},
        {"gif", Sized("GIF89a\x01\0\x01\0", 40)},
        {"jpg-exif", Sized(QByteArray("\xFF\xD8\xFF\xE1\0\x10"
                                      "Exif\0\0MM\0\x2A",
                                      16),
                           64)},
        {"jpg-jfif", Sized(QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11), 64)},
        {"doc", Sized(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), 512) +
                    Sized(QByteArray("\xEC\xA5\xC1\0", 4), 64)},
        {"ppt", Sized(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), 512) +
                    Sized(QByteArray("\xA0\x46\x1D\xF0", 4), 64)},
        {"mp3-tail", Sized(QByteArray("\xFF\xFB\x90\x64", 4), 600, 'U') + tag},
        {"htm", page},
        {"caa", "[TARGET]\r\nA1=1\r\nA2=2\r\nB1=x\r\nB2=y\r\nC1=c\r\nC2=d\r\nD1=e\r\nD2=f\r\n"
                "DOCTYPE=pdf\r\n"},
        {"text", "Just some notes about the article, nothing more.\n"},
    };
    for (const auto& [name, bytes] : files)
        Seed("fuzz_filetype", name, bytes);
}

// --- Fields as FuzzedDataProvider reads them: a backslash and another character end a
// field; "b" before the text takes it as UTF-8 (see InputText). ---

QByteArray Fields(const QList<QByteArray>& fields, const QByteArray& tail = {}) {
    QByteArray bytes;
    for (const QByteArray& field : fields) {
        QByteArray text = field;
        text.replace("\\", "\\\\");
        bytes += 'b' + text + "\\|";
    }
    return bytes + tail;
}

void AddressSeeds() {
    const QList<QList<QByteArray>> rows{
        {"application/pdf; charset=binary",
         "https://www.science.org/doi/pdf/10.1126/science.abc1234?download=true",
         "https://www.science.org/action/doSearch?AllField=cell&startPage=2&pageSize=20", "8080"},
        {"text/html;charset=utf-8", "http://www.sciencemag.org/cgi/reprint/sci;300/5620/755.pdf",
         "http://www.sciencemag.org/search?site_area=sci&journalcode=sci&FIRSTINDEX=10", "3128"},
        {"image/*", "www.example.org/files/paper.pdf", "", "x"},
        {"desktop", "https://h/a/b\\c/", "", ""},
        {"application/octet-stream", "ftp://h:21/x.tar.gz#top", "https://h/doi/abs/10.1126/99.9-9",
         "65536"},
    };
    int n = 0;
    for (const QList<QByteArray>& row : rows)
        Seed("fuzz_addresses", QStringLiteral("row%1").arg(++n), Fields(row, "\x01\x02\x03\x04"));
}

// --- Cache entries as the simple cache lays them out ---

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

QByteArray Entry(const QByteArray& key, const QByteArray& body, const QByteArray& contentType,
                 bool withKeyHash, const QByteArray& contentEncoding = {}) {
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

QByteArray Brotli(const QByteArray& bytes) {
    size_t size = BrotliEncoderMaxCompressedSize(size_t(bytes.size()));
    QByteArray out(qsizetype(size), '\0');
    BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, size_t(bytes.size()),
                          reinterpret_cast<const uint8_t*>(bytes.constData()), &size,
                          reinterpret_cast<uint8_t*>(out.data()));
    out.resize(qsizetype(size));
    return out;
}

void CacheSeeds() {
    Seed("fuzz_cacheentry", "page",
         Entry("1/0/https://www.science.org/toc/science/390/6771", "<html><body>x</body></html>",
               "text/html; charset=utf-8", true));
    Seed("fuzz_cacheentry", "isolated-pdf",
         Entry("1/0/_dk_https://science.org https://science.org https://www.science.org/doi/pdf/"
               "10.1126/science.1?download=true",
               "%PDF-1.7\n%%EOF\n", "application/pdf", false));
    // "hello" compressed with gzip, and with brotli.
    Seed("fuzz_cacheentry", "gzip",
         Entry("1/0/https://h/a.txt",
               QByteArray::fromHex("1f8b0800000000000203cb48cdc9c9070086a6103605000000"),
               "text/plain", true, "gzip"));
    Seed("fuzz_cacheentry", "brotli",
         Entry("1/0/https://h/", Brotli("<html><body>hello</body></html>"), "text/html", true,
               "br"));
}

// --- Page copies as the snapshot script hands them over ---

QJsonObject Element(int parent, const QString& tag, const QString& cls = {},
                    const QString& text = {}, const QString& href = {}) {
    QJsonObject e{{"t", tag}, {"p", parent}};
    if (!cls.isEmpty())
        e.insert("c", cls);
    if (!text.isEmpty())
        e.insert("x", text);
    if (!href.isEmpty())
        e.insert("h", href);
    return e;
}

QByteArray Page(const QString& url, const QString& title, const QJsonArray& elements,
                const QStringList& scriptMarks = {}, const QStringList& textMarks = {}) {
    QJsonObject root{{"url", url}, {"title", title}, {"elements", elements}};
    root.insert("sm", QJsonArray::fromStringList(scriptMarks));
    root.insert("tm", QJsonArray::fromStringList(textMarks));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

void PageSeeds() {
    const QString site = QStringLiteral("https://www.science.org");
    {
        // The former site's result list: entries, a decoy and page links.
        const QString search =
            QStringLiteral("http://www.sciencemag.org/search?site_area=sci&journalcode=sci");
        QJsonArray e;
        e.append(Element(-1, "UL", "results"));
        e.append(Element(0, "LI", "results-cit cit"));
        e.append(Element(1, "SPAN", "cit-first-element cit-title", "Structure of a protein"));
        e.append(Element(1, "A", {}, "Full Text (PDF)",
                         "http://www.sciencemag.org/cgi/reprint/1.pdf?a=1&amp;b=2"));
        e.append(Element(0, "LI", "results-cit cit"));
        e.append(Element(4, "A", {}, "Full\nText\u00a0(PDF)", "http://www.sciencemag.org/2.pdf"));
        e.append(Element(4, "SPAN", "cit-title", "  Second  "));
        e.append(Element(0, "LI", "results-cit cit extra"));
        e.append(Element(7, "SPAN", "cit-title", "Decoy"));
        e.append(Element(-1, "DIV", "pager"));
        e.append(Element(9, "A", {}, "2", search + "&FIRSTINDEX=10"));
        e.append(Element(9, "A", {}, "Next", search + "&FIRSTINDEX=20"));
        Seed("fuzz_resultpage", "former-results",
             Page(search + "&FIRSTINDEX=10", "Search results", e));
    }
    {
        // Today's search page: cards, a recommendation, the count and the pager.
        const QString search = site + "/action/doSearch?AllField=cell&startPage=1&pageSize=2";
        QJsonArray e;
        e.append(Element(-1, "SPAN", "search-result__meta__item--count", "1,234"));
        e.append(Element(-1, "DIV", "card pb-3 mb-4 border-bottom"));
        e.append(Element(1, "H2", "article-title"));
        e.append(Element(2, "A", {}, "A  cell\n atlas", site + "/doi/10.1126/science.abc1234"));
        e.append(Element(-1, "DIV", "border-bottom card"));
        e.append(Element(4, "H3", "article-title"));
        QJsonObject hidden = Element(5, "A", {}, "Hidden", site + "/doi/abs/10.1126/science.999");
        hidden.insert("vis", false);
        e.append(hidden);
        e.append(Element(5, "A", {}, "Shown", site + "/doi/full/10.1126/science.adz0001"));
        e.append(Element(-1, "ASIDE"));
        e.append(Element(8, "DIV", "card card-related"));
        e.append(Element(9, "H2", "article-title"));
        e.append(Element(10, "A", {}, "Related", site + "/doi/10.1126/science.rel1"));
        e.append(Element(-1, "UL", "pagination"));
        e.append(Element(12, "LI", "page-item page-item__arrow--next"));
        e.append(Element(13, "A", "page-link", "\u203a", search));
        Seed("fuzz_resultpage", "today-search", Page(search, "Search results | Science", e));
    }
    {
        // Today's issue page: sections of cards, the first repeated.
        QJsonArray e;
        e.append(Element(-1, "SECTION", "toc__section"));
        e.append(Element(0, "DIV", "card"));
        e.append(Element(1, "H3", "article-title"));
        e.append(Element(2, "A", {}, "First", site + "/doi/10.1126/science.adn0001"));
        e.append(Element(-1, "SECTION", "toc__section"));
        e.append(Element(4, "DIV", "card"));
        e.append(Element(5, "H3", "article-title"));
        e.append(Element(6, "A", {}, "first", site + "/doi/10.1126/SCIENCE.ADN0001"));
        Seed("fuzz_resultpage", "today-issue",
             Page(site + "/toc/science/390/6771", "Science: Vol 390, No 6771", e));
    }
    {
        // The bot check.
        QJsonArray e;
        QJsonObject form = Element(-1, "FORM");
        form.insert("i", "challenge-form");
        e.append(form);
        QJsonObject frame = Element(-1, "IFRAME");
        frame.insert("s", "https://challenges.cloudflare.com/cdn-cgi/challenge-platform/x");
        e.append(frame);
        Seed("fuzz_resultpage", "challenge",
             Page(site + "/action/doSearch?AllField=x", "Just a moment...", e, {"_cf_chl_opt"},
                  {"Verifying you are human"}));
    }
}

// --- Names, types and folder paths ---

void NameSeeds() {
    const QList<QList<QByteArray>> rows{
        {"Structure of a protein: a <review>?", "pdf", "a/b/c"},
        {" .. ", "", "../x/./y"},
        {"a\r\nb\x01\x7f\xe2\x80\xae"
         "cdp.exe",
         "pdf", "Neue Ordner/..//z"},
        {QByteArray(300, 'x'), "html", "\xe6\x96\x87\xe4\xbb\xb6\xe5\xa4\xb9/.hidden/:colon"},
        {"x[0002].pdf", "p/df", "//server/share"},
    };
    int n = 0;
    for (const QList<QByteArray>& row : rows)
        Seed("fuzz_filenames", QStringLiteral("row%1").arg(++n),
             Fields({row[0], row[1]}, 'b' + row[2]));
    // A name as UTF-16 with a lone surrogate.
    QByteArray utf16("a");
    for (const char16_t unit : {u'n', u'a', char16_t(0xD800), u'm', u'e'})
        utf16 += QByteArray(reinterpret_cast<const char*>(&unit), 2);
    Seed("fuzz_filenames", "surrogate", Fields({}, {}) + utf16.replace("\\", "\\\\") + "\\|");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    gFolder = QString::fromLocal8Bit(argv[1]);
    FileTypeSeeds();
    AddressSeeds();
    CacheSeeds();
    PageSeeds();
    NameSeeds();
    return gOk ? 0 : 1;
}
