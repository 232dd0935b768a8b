#include "core/download/FileType.h"

#include "core/app/FileHelpers.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <initializer_list>
#include <string_view>

namespace {

using namespace std::string_view_literals;

constexpr qint64 kHeaderBytes = 10240;
constexpr qint64 kTailBytes = 128;
constexpr qint64 kPageRuleLimit = 200 * 1024;
constexpr qint64 kTicketRuleLimit = 3 * 1024;

// Bytes expected at one offset of the header.
struct Piece {
    qsizetype offset;
    std::string_view bytes; // built with ""sv so that embedded zero bytes count
};

struct Signature {
    const char* type;
    std::array<Piece, 3> pieces; // the unused ones are empty
};

// Tried in this order: the first that matches names the type. The order matters beyond
// precedence, since the first signature that needs more bytes than the file has ends the
// search (see Header::reaches).
const std::array<Signature, 18> kSignatures{{
    {"pdf", {{{0, "%PDF"sv}}}},
    {"caj", {{{0, "\xC8\x00\x00\x00"sv}}}},
    {"kdh", {{{0, "CAJ\x00"sv}}}},
    {"kdh", {{{0, "KDH "sv}}}},
    {"nh", {{{0, "HN\x00\x00"sv}}}},
    {"tif", {{{0, "II*\x00"sv}}}},
    {"exe", {{{0, "MZ"sv}}}},
    {"rar", {{{0, "Rar!"sv}}}},
    {"zip", {{{0, "PK\x03\x04\x14\x00\x00\x00\x08"sv}}}},
    {"docx", {{{0, "PK\x03\x04\x14\x00\x06\x00\x08\x00"sv}}}},
    {"swf", {{{0, "CWS\x06"sv}}}},
    {"rm", {{{0, ".RMF"sv}}}},
    {"wma", {{{0, "\x30\x26\xB2\x75\x8E"sv}}}},
    {"mp3", {{{0, "ID3\x03"sv}}}},
    {"png", {{{0, "\x89PNG\r\n\x1A\n"sv}}}},
    {"gif", {{{0, "GIF89a"sv}}}},
    {"jpg", {{{0, "\xFF\xD8\xFF\xE1"sv}, {6, "Exif"sv}, {12, "MM\x00\x2A"sv}}}},
    {"jpg", {{{0, "\xFF\xD8\xFF\xE0\x00\x10JFIF"sv}}}},
}};

constexpr std::string_view kCompoundDocument = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv;
constexpr qsizetype kCompoundSubtypeOffset = 512;
constexpr std::string_view kWordSubtype = "\xEC\xA5\xC1\x00"sv;
constexpr std::string_view kExcelSubtype = "\x09\x08\x10\x00"sv;
constexpr qsizetype kPowerPointMarkOffset = 515;
constexpr char kPowerPointMark = '\xF0';

// The start of the file followed by one zero byte. That zero byte is a position a signature
// may look at, so "the last byte plus one" is still inside the header.
class Header {
public:
    explicit Header(QByteArray bytes) : bytes_(std::move(bytes)), last_(bytes_.size()) {
        bytes_.append('\0');
    }

    // Whether every position up to `position` exists.
    bool reaches(qsizetype position) const { return position <= last_; }

    // Callers check reaches() for the piece's last position first.
    bool holds(const Piece& piece) const {
        return QByteArrayView(bytes_).sliced(piece.offset, qsizetype(piece.bytes.size())) ==
               QByteArrayView(piece.bytes.data(), qsizetype(piece.bytes.size()));
    }

    char at(qsizetype position) const { return bytes_.at(position); }

    // The file's own bytes, without the zero byte.
    QByteArrayView content() const { return QByteArrayView(bytes_).first(last_); }

private:
    QByteArray bytes_;
    qsizetype last_;
};

enum class Outcome { NoMatch, Match, OutOfBytes };

Outcome test(const Header& header, const Signature& signature) {
    // Every position of the signature is read, even after a mismatch: a file too short for
    // any of them ends the search here.
    bool matches = true;
    for (const Piece& piece : signature.pieces) {
        if (piece.bytes.empty())
            continue;
        if (!header.reaches(piece.offset + qsizetype(piece.bytes.size()) - 1))
            return Outcome::OutOfBytes;
        matches = matches && header.holds(piece);
    }
    return matches ? Outcome::Match : Outcome::NoMatch;
}

struct ContentAnswer {
    QString type;
    bool stop = false; // the header was too short for a signature; nothing further is tried
};

ContentAnswer classifyHeader(const Header& header) {
    for (const Signature& signature : kSignatures) {
        switch (test(header, signature)) {
        case Outcome::Match:
            return {QString::fromLatin1(signature.type), true};
        case Outcome::OutOfBytes:
            return {QString(), true};
        case Outcome::NoMatch:
            break;
        }
    }

    const Piece compound{0, kCompoundDocument};
    if (!header.reaches(qsizetype(kCompoundDocument.size()) - 1))
        return {QString(), true};
    if (!header.holds(compound))
        return {};
    // The three subtypes are told apart further in; a short compound document cannot be.
    const Piece word{kCompoundSubtypeOffset, kWordSubtype};
    const Piece excel{kCompoundSubtypeOffset, kExcelSubtype};
    if (!header.reaches(kCompoundSubtypeOffset + qsizetype(kWordSubtype.size()) - 1))
        return {QString(), true};
    if (header.holds(word))
        return {QStringLiteral("doc"), true};
    if (header.holds(excel))
        return {QStringLiteral("xls"), true};
    if (header.at(kPowerPointMarkOffset) == kPowerPointMark)
        return {QStringLiteral("ppt"), true};
    return {};
}

bool containsAny(const QString& text, std::initializer_list<QLatin1StringView> words) {
    for (const QLatin1StringView word : words) {
        if (text.contains(word, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool containsAll(const QString& text, std::initializer_list<QLatin1StringView> words) {
    for (const QLatin1StringView word : words) {
        if (!text.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QString decodeText(QByteArrayView bytes) {
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

bool looksLikePage(const QString& text) {
    return containsAny(text, {QLatin1StringView("<html "), QLatin1StringView("html>")}) &&
           containsAny(text, {QLatin1StringView("<title>"), QLatin1StringView("<head>"),
                              QLatin1StringView("<body>")});
}

bool looksLikeTicket(const QString& text) {
    return containsAll(text, {QLatin1StringView("A1="), QLatin1StringView("[TARGET]"),
                              QLatin1StringView("A2="), QLatin1StringView("B1="),
                              QLatin1StringView("B2="), QLatin1StringView("C1="),
                              QLatin1StringView("C2="), QLatin1StringView("D1="),
                              QLatin1StringView("D2="), QLatin1StringView("DOCTYPE=")});
}

} // namespace

QString ClassifyFileType(const QString& path) {
    if (!FileExists(path))
        return {};
    // A pipe or a device passes as "not a folder" but could block the read or never end.
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();

    QByteArray start = file.read(qMin(size, kHeaderBytes));
    if (file.error() != QFileDevice::NoError)
        return {};
    const Header header(std::move(start));

    const ContentAnswer content = classifyHeader(header);
    if (content.stop)
        return content.type.toLower();

    if (size > kTailBytes) {
        if (!file.seek(size - kTailBytes))
            return {};
        const QByteArray tail = file.read(kTailBytes);
        if (tail.startsWith("TAG"))
            return QStringLiteral("mp3");
    }

    if (size < kPageRuleLimit && looksLikePage(decodeText(header.content())))
        return QStringLiteral("htm");

    // Such a small file is already whole in the header.
    if (size < kTicketRuleLimit && looksLikeTicket(decodeText(header.content())))
        return QStringLiteral("caa");

    return {};
}

BodyKind JudgeBody(const QString& path, const QString& expectedType, const QString& contentType) {
    QString expected = expectedType.trimmed().toLower();
    if (expected == QLatin1String("html"))
        expected = QStringLiteral("htm");
    else if (expected == QLatin1String("jpeg"))
        expected = QStringLiteral("jpg");
    else if (expected == QLatin1String("tiff"))
        expected = QStringLiteral("tif");
    const QString detected = ClassifyFileType(path);
    bool ofKind = !expected.isEmpty() && detected == expected;
    if (ofKind && expected == QLatin1String("pdf")) {
        QFile file(path);
        ofKind = file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
    }
    if (ofKind)
        return BodyKind::Expected;
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    const bool pageAnswer = type == QLatin1String("text/html") ||
                            type == QLatin1String("application/xhtml+xml") ||
                            type == QLatin1String("application/json");
    if (detected == QLatin1String("htm") || pageAnswer)
        return BodyKind::WebPage;
    return BodyKind::Other;
}
