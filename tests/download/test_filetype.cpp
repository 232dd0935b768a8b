#include "core/download/FileType.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QByteArray hex(const char* digits) {
    return QByteArray::fromHex(digits);
}

// `bytes` filled up to `size` with `fill`; longer input is cut.
QByteArray sized(QByteArray bytes, qsizetype size, char fill = '\0') {
    if (bytes.size() > size)
        bytes.truncate(size);
    else
        bytes.append(QByteArray(size - bytes.size(), fill));
    return bytes;
}

// Replaces the bytes at `offset` (growing the array when needed).
QByteArray placed(QByteArray bytes, qsizetype offset, const QByteArray& piece) {
    if (bytes.size() < offset + piece.size())
        bytes.resize(offset + piece.size(), '\0');
    bytes.replace(offset, piece.size(), piece);
    return bytes;
}

QByteArray gb18030(const QString& text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// --- sample files, each the start of what the real program writes ---

QByteArray pdfFile() {
    return QByteArray("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"
                      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                      "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
                      "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
}

// A zip local file header: version 2.0, no flags, deflate; then the name and the data.
QByteArray zipFile() {
    return hex("504B0304"
               "1400"
               "0000"
               "0800"
               "7A5C"
               "2158"
               "1DE2E0CB"
               "0A000000"
               "08000000"
               "0900"
               "0000") +
           QByteArray("notes.txt") + hex("CB48CDC9C95728CF2FCA4901002AC3B1D1");
}

// What a word processor writes first into a .docx: flags 6 (the data descriptor bits).
QByteArray docxFile() {
    return hex("504B0304"
               "1400"
               "0600"
               "0800"
               "0000"
               "2100"
               "DFA4D26C"
               "5A010000"
               "20050000"
               "1300"
               "0800") +
           QByteArray("[Content_Types].xml") + QByteArray(40, '\x11');
}

// The header block of a compound document, with `subtype` at offset 512.
QByteArray compoundFile(const QByteArray& subtype, qsizetype size = 1536) {
    QByteArray header = hex("D0CF11E0A1B11AE1") + QByteArray(16, '\0') +
                        hex("3E000300FEFF0900060000000000000000000000010000000100000000000000");
    return sized(placed(sized(header, 512, '\xFF'), 512, subtype), size, '\0');
}

QByteArray pngFile() {
    return hex("89504E470D0A1A0A0000000D49484452000000010000000108060000001F15C489"
               "0000000A49444154789C63000100000500010D0A2DB40000000049454E44AE426082");
}

QByteArray gifFile(const char* version) {
    return QByteArray(version) + hex("010001008000000000000000FFFFFF21F90401000000002C000000"
                                     "000100010000020144003B");
}

QByteArray exifJpeg(bool bigEndian) {
    return hex("FFD8FFE1") + hex("0022") + QByteArray("Exif") + hex("0000") +
           (bigEndian ? hex("4D4D002A00000008") : hex("49492A0008000000")) +
           hex("0001011200030000000100010000") + hex("FFD9");
}

QByteArray jfifJpeg() {
    return hex("FFD8FFE000104A46494600010101004800480000") +
           hex("FFDB004300080606070605080707070909080A0C140D0C0B0B0C1912130F") + hex("FFD9");
}

QByteArray id3File(char version) {
    return QByteArray("ID3") + QByteArray(1, version) +
           hex("000000000023544954320000000B00000048656C6C6F20776F726C64") +
           sized(hex("FFFB9064"), 400, '\x55');
}

// An ID3v1 block: "TAG", title, artist, album, year, comment, genre.
QByteArray id3v1Tag() {
    return sized(QByteArray("TAGSong title"), 125, '\0') + hex("000C0D");
}

QByteArray htmlPage(const QByteArray& head = "<html lang=\"en\"><head><title>Access denied</title>"
                                             "</head><body>") {
    return head + gb18030(QStringLiteral("<p>您的机构没有订阅此内容。</p></body></html>\n"));
}

QByteArray ticketFile(bool mixedCase) {
    QByteArray text("[TARGET]\r\nA1=10.1126/science.abc1234\r\nA2=2024\r\nB1=1\r\nB2=12\r\n"
                    "C1=science\r\nC2=ordinary\r\nD1=0\r\nD2=0\r\nDOCTYPE=CAA\r\n");
    if (mixedCase)
        text.replace("[TARGET]", "[Target]").replace("DOCTYPE=", "DocType=").replace("A1=", "a1=");
    return text;
}

} // namespace

// Files classified by their bytes: every type word, the order of the signatures, the ends
// when a file is too short for a signature, and the size limits of the text rules.
class TestFileType : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachKindOfFileIsKnown_data();
    void eachKindOfFileIsKnown();
    void aTooShortFileEndsTheSearch_data();
    void aTooShortFileEndsTheSearch();
    void theTextRulesStopAtTheirSizes_data();
    void theTextRulesStopAtTheirSizes();
    void whatIsNotAFileHasNoType();
    void aLargeFileIsJudgedByItsEnds();

private:
    QString classify(const QByteArray& bytes);

    QTemporaryDir dir_;
    int written_ = 0;
};

QString TestFileType::classify(const QByteArray& bytes) {
    const QString path = dir_.filePath(QStringLiteral("sample%1.bin").arg(++written_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QStringLiteral("<not written>");
    file.close();
    return ClassifyFileType(path);
}

void TestFileType::eachKindOfFileIsKnown_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");

    QTest::newRow("is a PDF a pdf?") << pdfFile() << "pdf";
    QTest::newRow("is PDF without its percent sign unknown?") << pdfFile().mid(1) << "";
    QTest::newRow("is a CAJ file (C8 00 00 00) a caj?")
        << sized(hex("C8000000"), 300, '\x20') << "caj";
    QTest::newRow("is a CAJ-headed file a kdh?") << sized(QByteArray("CAJ\0", 4), 300) << "kdh";
    QTest::newRow("is a KDH file a kdh?") << sized("KDH 2.0 document", 300) << "kdh";
    QTest::newRow("is an HN file an nh?") << sized(QByteArray("HN\0\0", 4), 300, '\x01') << "nh";
    QTest::newRow("is a little-endian TIFF a tif?") << sized(hex("49492A0008000000"), 300) << "tif";
    QTest::newRow("is a program (MZ) an exe?")
        << sized(hex("4D5A90000300000004000000FFFF0000"), 512) << "exe";
    QTest::newRow("is a RAR archive a rar?")
        << sized(hex("526172211A0700CF907300000D"), 64) << "rar";
    QTest::newRow("is a zip of version 2.0 with deflate a zip?") << zipFile() << "zip";
    QTest::newRow("is a word processor's docx a docx?") << docxFile() << "docx";
    QTest::newRow("is a compressed Flash movie (CWS 6) a swf?")
        << sized(hex("435753061A0100007801"), 80, '\x33') << "swf";
    QTest::newRow("is a RealMedia file an rm?") << sized(hex("2E524D46000000120000"), 80) << "rm";
    QTest::newRow("is an ASF/WMA file a wma?")
        << sized(hex("3026B2758E66CF11A6D900AA0062CE6C"), 80) << "wma";
    QTest::newRow("is an MP3 with an ID3v2.3 header an mp3?") << id3File('\x03') << "mp3";
    QTest::newRow("is an MP3 with ID3v2.4 but no tag block unknown?") << id3File('\x04') << "";
    QTest::newRow("is an MP3 with ID3v2.4 and a tag block at its end an mp3?")
        << id3File('\x04') + id3v1Tag() << "mp3";
    QTest::newRow("is bare MPEG audio with a tag block an mp3?")
        << sized(hex("FFFB9064"), 2000, '\x55') + id3v1Tag() << "mp3";
    QTest::newRow("is a tag block that does not end the file ignored?")
        << id3File('\x04') + id3v1Tag() + QByteArray(10, '\0') << "";
    QTest::newRow("is a PNG a png?") << pngFile() << "png";
    QTest::newRow("is a GIF89a a gif?") << gifFile("GIF89a") << "gif";
    QTest::newRow("is a GIF87a unknown?") << gifFile("GIF87a") << "";
    QTest::newRow("is a big-endian Exif JPEG a jpg?") << exifJpeg(true) << "jpg";
    QTest::newRow("is a little-endian Exif JPEG unknown?") << exifJpeg(false) << "";
    QTest::newRow("is a JFIF JPEG a jpg?") << jfifJpeg() << "jpg";
    QTest::newRow("is a Word document a doc?") << compoundFile(hex("ECA5C100")) << "doc";
    QTest::newRow("is an Excel workbook an xls?") << compoundFile(hex("09081000")) << "xls";
    QTest::newRow("is a PowerPoint file (F0 at 515) a ppt?")
        << compoundFile(hex("A0461DF0")) << "ppt";
    QTest::newRow("does an unknown compound document go on to the page rule?")
        << compoundFile(hex("00000000")) + htmlPage() << "htm";
    QTest::newRow("does an unknown compound document go on to the tail rule?")
        << compoundFile(hex("FDFFFFFF")) + id3v1Tag() << "mp3";
    QTest::newRow("is a web page an htm?") << htmlPage() << "htm";
    QTest::newRow("is an upper-case page with only a body an htm?")
        << QByteArray("<HTML>\n<BODY>Not found</BODY></HTML>") << "htm";
    QTest::newRow("is '<html' followed by a line break and no 'html>' unknown?")
        << QByteArray("<html\nlang=\"en\"><title>x</title><p>cut off") << "";
    QTest::newRow("is a page without title, head or body unknown?")
        << QByteArray("<html lang=\"en\"><p>a fragment that tells nothing</p></html>") << "";
    QTest::newRow("is a marker eaten by a GB18030 lead byte unseen?")
        << QByteArray("<title>x</title> \x81html> and no more markers") << "";
    QTest::newRow("is a CAA ticket a caa?") << ticketFile(false) << "caa";
    QTest::newRow("is a ticket in mixed letter case a caa?") << ticketFile(true) << "caa";
    QTest::newRow("is a ticket that lacks one marker unknown?")
        << ticketFile(false).replace("C2=", "C3=") << "";
    QTest::newRow("does the first signature win (a PDF that also holds a page)?")
        << pdfFile() + htmlPage() << "pdf";
    QTest::newRow("is plain text unknown?")
        << QByteArray("Just some notes about the article, nothing more.\n") << "";
}

void TestFileType::eachKindOfFileIsKnown() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QCOMPARE(classify(bytes), type);
}

void TestFileType::aTooShortFileEndsTheSearch_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");

    QTest::newRow("is an empty file unknown?") << QByteArray() << "";
    QTest::newRow("is a one-byte file unknown?") << QByteArray("%") << "";
    QTest::newRow("does a two-byte MZ end at the pdf rule?") << QByteArray("MZ") << "";
    QTest::newRow("is a three-byte MZ an exe?") << QByteArray("MZ\x90") << "exe";
    QTest::newRow("is a two-byte text unknown?") << QByteArray("ab") << "";
    QTest::newRow("is %PD (three bytes) not a pdf?") << QByteArray("%PD") << "";
    // The byte after the file's last byte is a zero that the signatures may read.
    QTest::newRow("does the zero after the last byte complete C8 00 00 00?")
        << hex("C80000") << "caj";
    QTest::newRow("does a four-byte file end at the zip rule?") << QByteArray("%PDX") << "";
    QTest::newRow("does a five-byte ID3v2.3 header end at the zip rule?")
        << hex("4944330300") << "";
    QTest::newRow("is a ten-byte file with the zip bytes a zip?")
        << hex("504B03041400000008") + QByteArray(1, '\0') << "zip";
    QTest::newRow("does an eight-byte PNG signature end at the docx rule?")
        << hex("89504E470D0A1A0A") << "";
    QTest::newRow("is a nine-byte PNG start a png?") << hex("89504E470D0A1A0A00") << "png";
    QTest::newRow("does a ten-byte JFIF start end at the Exif rule?")
        << hex("FFD8FFE000104A464946") << "";
    QTest::newRow("is a fifteen-byte JFIF start a jpg?")
        << hex("FFD8FFE000104A46494600010100") + QByteArray(1, '\0') << "jpg";
    QTest::newRow("does a ten-byte text end at the Exif rule?") << QByteArray("0123456789") << "";
    QTest::newRow("does a thirteen-byte page end before the page rule?")
        << QByteArray("<html><title>") << "";
    QTest::newRow("is a compound document of 514 bytes unknown, tag block or not?")
        << compoundFile(hex("ECA5C100"), 514).replace(514 - 128, 3, "TAG") << "";
    QTest::newRow("does a compound document of 515 bytes reach its subtype?")
        << compoundFile(hex("ECA5C1"), 515) << "doc";
}

void TestFileType::aTooShortFileEndsTheSearch() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QCOMPARE(classify(bytes), type);
}

void TestFileType::theTextRulesStopAtTheirSizes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");

    const QByteArray page = htmlPage();
    QTest::newRow("is a page of 204799 bytes an htm?") << sized(page, 204799, ' ') << "htm";
    QTest::newRow("is a page of 204800 bytes unknown?") << sized(page, 204800, ' ') << "";
    QTest::newRow("is a page of 250 KB unknown?") << sized(page, 250 * 1024, ' ') << "";
    QTest::newRow("is a page whose markers start after 10240 bytes unknown?")
        << QByteArray(10240, ' ') + page << "";
    QTest::newRow("is a page whose markers end at byte 10240 an htm?")
        << QByteArray(10240 - 12, ' ') + QByteArray("<html><body>") + page << "htm";
    QTest::newRow("is a page whose marker is cut at byte 10240 unknown?")
        << QByteArray(10240 - 11, ' ') + QByteArray("<html><body>") + page << "";

    const QByteArray ticket = ticketFile(true);
    QTest::newRow("is a ticket of 2 KB a caa?") << sized(ticket, 2048, ' ') << "caa";
    QTest::newRow("is a ticket of 3071 bytes a caa?") << sized(ticket, 3071, ' ') << "caa";
    QTest::newRow("is a ticket of 3072 bytes unknown?") << sized(ticket, 3072, ' ') << "";

    QTest::newRow("is a tag block in a file of 128 bytes ignored?") << id3v1Tag() << "";
    QTest::newRow("is a tag block in a file of 129 bytes an mp3?")
        << QByteArray(1, '\x55') + id3v1Tag() << "mp3";
}

void TestFileType::theTextRulesStopAtTheirSizes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QCOMPARE(classify(bytes), type);
}

void TestFileType::whatIsNotAFileHasNoType() {
    QCOMPARE(ClassifyFileType(dir_.filePath(QStringLiteral("no such file.pdf"))), QString());
    QCOMPARE(ClassifyFileType(QString()), QString());

    const QString folder = dir_.filePath(QStringLiteral("a folder.pdf"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(ClassifyFileType(folder), QString());

    // Nobody writes into this pipe: opening it to read would wait for ever.
    const QString pipe = dir_.filePath(QStringLiteral("pipe.pdf"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QCOMPARE(ClassifyFileType(pipe), QString());
}

void TestFileType::aLargeFileIsJudgedByItsEnds() {
    // A sparse file of 1 GiB costs no disk; the rules need only its two ends.
    const QString path = dir_.filePath(QStringLiteral("large.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(id3File('\x04')) > 0);
    QVERIFY(file.resize(qint64(1) << 30));
    QVERIFY(file.seek((qint64(1) << 30) - 128));
    QCOMPARE(file.write(id3v1Tag()), 128);
    file.close();
    QCOMPARE(ClassifyFileType(path), QStringLiteral("mp3"));

    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(0));
    QCOMPARE(file.write("%PDF"), 4);
    file.close();
    QCOMPARE(ClassifyFileType(path), QStringLiteral("pdf"));
}

QF_TEST_GUILESS_MAIN(TestFileType)
#include "test_filetype.moc"
