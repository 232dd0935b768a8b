#include "core/download/CitationImport.h"

#include "core/app/WebAddress.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include <optional>

namespace {

// "Family, Given" as the page order "Given Family", so that a name read back is the name that
// was written; names without a given part stay as they are.
QString NameInPageOrder(const QString& name) {
    const QString shown = name.simplified();
    const qsizetype comma = shown.indexOf(QLatin1Char(','));
    if (comma <= 0)
        return shown;
    const QString given = shown.mid(comma + 1).trimmed();
    const QString family = shown.left(comma).trimmed();
    return given.isEmpty() ? family : given + QLatin1Char(' ') + family;
}

QString IsoFromParts(int year, int month, int day) {
    QString text = QString::number(year);
    if (month > 0) {
        text += QStringLiteral("-%1").arg(month, 2, 10, QLatin1Char('0'));
        if (day > 0)
            text += QStringLiteral("-%1").arg(day, 2, 10, QLatin1Char('0'));
    }
    return IsoDateOf(text);
}

// "2023/05/05/", "2023/05//", "2023///", "2023".
QString RisDate(const QString& value) {
    const QStringList parts = value.trimmed().split(QLatin1Char('/'));
    bool ok = false;
    const int year = parts.value(0).trimmed().toInt(&ok);
    if (!ok)
        return IsoDateOf(value);
    return IsoFromParts(year, parts.value(1).toInt(), parts.value(2).toInt());
}

QString PagesFrom(const QString& first, const QString& last) {
    const QString from = first.simplified();
    const QString to = last.simplified();
    return to.isEmpty() || to == from ? from : from + QLatin1Char('-') + to;
}

// Keeps an entry that names a DOI or a web address; notes the line of one that names neither.
void Keep(CitationFileContents& contents, ImportedCitation entry) {
    if (entry.metadata.doi.isEmpty())
        entry.metadata.doi = DoiInText(entry.link);
    if (!entry.link.isEmpty() && !IsWebAddress(entry.link))
        entry.link.clear();
    if (entry.metadata.doi.isEmpty() && entry.link.isEmpty())
        contents.unusableLines << entry.line;
    else
        contents.entries << entry;
}

// --- BibTeX ---

// A letter with a TeX accent command ("\'e", "\"{u}") as the one character it stands for.
QString Accented(QChar command, QChar letter) {
    static const QList<QPair<QChar, ushort>> marks{
        {'\'', 0x0301}, {'`', 0x0300}, {'^', 0x0302}, {'"', 0x0308}, {'~', 0x0303},
        {'=', 0x0304},  {'.', 0x0307}, {'c', 0x0327}, {'v', 0x030C}, {'u', 0x0306},
        {'H', 0x030B},  {'k', 0x0328}, {'r', 0x030A}};
    for (const auto& [name, mark] : marks) {
        if (name == command)
            return (QString(letter) + QChar(mark)).normalized(QString::NormalizationForm_C);
    }
    return QString(letter);
}

// A BibTeX value as plain text: the escapes and accent commands reference managers write,
// with grouping braces taken out.
QString PlainTeX(const QString& value) {
    static const QList<QPair<QString, QString>> words{{"textbackslash", "\\"},
                                                      {"textbraceleft", "{"},
                                                      {"textbraceright", "}"},
                                                      {"textasciitilde", "~"},
                                                      {"textasciicircum", "^"},
                                                      {"ss", QString(QChar(0x00DF))},
                                                      {"o", QString(QChar(0x00F8))},
                                                      {"O", QString(QChar(0x00D8))},
                                                      {"aa", QString(QChar(0x00E5))},
                                                      {"AA", QString(QChar(0x00C5))},
                                                      {"ae", QString(QChar(0x00E6))},
                                                      {"AE", QString(QChar(0x00C6))},
                                                      {"l", QString(QChar(0x0142))},
                                                      {"L", QString(QChar(0x0141))},
                                                      {"i", "i"}};
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('{') || c == QLatin1Char('}'))
            continue;
        if (c != QLatin1Char('\\') || i + 1 >= value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(i + 1);
        if (QStringLiteral("'`^\"~=.").contains(next) ||
            (QStringLiteral("cvuHkr").contains(next) && i + 2 < value.size() &&
             !value.at(i + 2).isLetter())) {
            // "\'e", "\'{e}", "\c{c}", "\v c"
            qsizetype at = i + 2;
            while (at < value.size() &&
                   (value.at(at) == QLatin1Char('{') || value.at(at) == QLatin1Char(' ')))
                ++at;
            if (at < value.size() && value.at(at) == QLatin1Char('\\') && at + 1 < value.size() &&
                value.at(at + 1) == QLatin1Char('i'))
                ++at; // "\'\i" is a dotless i with the accent
            if (at < value.size()) {
                out += Accented(next, value.at(at));
                i = at;
                continue;
            }
        }
        if (!next.isLetter()) { // "\{", "\&", "\%", "\$", "\#", "\_"
            out += next;
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < value.size() && value.at(end).isLetter())
            ++end;
        const QString word = value.mid(i + 1, end - i - 1);
        bool known = false;
        for (const auto& [name, text] : words) {
            if (name == word) {
                out += text;
                known = true;
                break;
            }
        }
        if (!known)
            out += QLatin1Char('\\') + word; // kept as written: a command of the title's own
        i = end - 1;
        if (end < value.size() && value.at(end) == QLatin1Char(' ') && known)
            i = end; // the blank that ends a command word is no part of the text
    }
    return out.simplified();
}

int MonthOfBibTeX(const QString& value) {
    bool ok = false;
    const int number = value.trimmed().toInt(&ok);
    if (ok)
        return number >= 1 && number <= 12 ? number : 0;
    const QString iso = IsoDateOf(value.trimmed() + QStringLiteral(" 2000"));
    return iso.size() >= 7 ? iso.mid(5, 2).toInt() : 0;
}

class BibTeXReader {
public:
    explicit BibTeXReader(const QString& text) : text_(text) {}

    CitationFileContents read() {
        CitationFileContents contents;
        while (skipTo(QLatin1Char('@'))) {
            const int line = lineAt(at_);
            ++at_;
            const QString type = word().toLower();
            skipBlanks();
            if (at_ >= text_.size())
                break;
            const QChar open = text_.at(at_);
            if (open != QLatin1Char('{') && open != QLatin1Char('('))
                continue;
            const QChar close = open == QLatin1Char('{') ? QLatin1Char('}') : QLatin1Char(')');
            ++at_;
            if (type == QLatin1String("comment") || type == QLatin1String("preamble") ||
                type == QLatin1String("string")) {
                skipGroup(close);
                continue;
            }
            readEntry(close, line, contents);
        }
        return contents;
    }

private:
    void readEntry(QChar close, int line, CitationFileContents& contents) {
        // The key, up to the first comma.
        while (at_ < text_.size() && text_.at(at_) != QLatin1Char(',') && text_.at(at_) != close)
            ++at_;
        QHash<QString, QString> fields;
        while (at_ < text_.size() && text_.at(at_) != close) {
            ++at_; // the comma
            skipBlanks();
            const QString name = word().toLower();
            skipBlanks();
            if (name.isEmpty() && at_ < text_.size() && text_.at(at_) == QLatin1Char('=')) {
                // A value without its name is read past and dropped; the entry is kept.
                ++at_;
                value(close);
                skipBlanks();
                continue;
            }
            if (name.isEmpty() || at_ >= text_.size() || text_.at(at_) != QLatin1Char('=')) {
                // A broken field: its value is lost up to the next comma, the entry is kept.
                while (at_ < text_.size() && text_.at(at_) != QLatin1Char(',') &&
                       text_.at(at_) != close && text_.at(at_) != QLatin1Char('@'))
                    ++at_;
                if (at_ < text_.size() && text_.at(at_) == QLatin1Char('@'))
                    break;
                continue;
            }
            ++at_;
            fields.insert(name, value(close));
            skipBlanks();
        }
        if (at_ < text_.size() && text_.at(at_) == close)
            ++at_;

        ImportedCitation entry;
        entry.line = line;
        ArticleMetadata& m = entry.metadata;
        m.title = PlainTeX(fields.value(QStringLiteral("title")));
        const QString authors = fields.value(QStringLiteral("author"));
        for (const QString& name : splitNames(authors)) {
            const QString plain = PlainTeX(name);
            if (!plain.isEmpty())
                m.authors << NameInPageOrder(plain);
        }
        m.date = IsoDateOf(fields.value(QStringLiteral("date")));
        if (m.date.isEmpty()) {
            bool ok = false;
            const int year = fields.value(QStringLiteral("year")).trimmed().toInt(&ok);
            if (ok)
                m.date = IsoFromParts(year, MonthOfBibTeX(fields.value(QStringLiteral("month"))),
                                      fields.value(QStringLiteral("day")).trimmed().toInt());
        }
        m.journal = PlainTeX(fields.value(QStringLiteral("journal")));
        if (m.journal.isEmpty())
            m.journal = PlainTeX(fields.value(QStringLiteral("journaltitle")));
        m.volume = PlainTeX(fields.value(QStringLiteral("volume")));
        m.issue = PlainTeX(fields.value(QStringLiteral("number")));
        if (m.issue.isEmpty())
            m.issue = PlainTeX(fields.value(QStringLiteral("issue")));
        const QString pages = PlainTeX(fields.value(QStringLiteral("pages")));
        const QStringList range = pages.split(QRegularExpression(QStringLiteral("\\s*-+\\s*")));
        m.pages = PagesFrom(range.value(0), range.value(1));
        m.kind = PlainTeX(fields.value(QStringLiteral("type")));
        m.doi = DoiInText(fields.value(QStringLiteral("doi")));
        entry.link = fields.value(QStringLiteral("url")).trimmed();
        entry.link.replace(QLatin1String("%7B"), QLatin1String("{"));
        entry.link.replace(QLatin1String("%7D"), QLatin1String("}"));
        Keep(contents, entry);
    }

    // " and " at brace depth 0 separates names.
    static QStringList splitNames(const QString& authors) {
        QStringList names;
        int depth = 0;
        qsizetype start = 0;
        const QString lower = authors.toLower();
        for (qsizetype i = 0; i < authors.size(); ++i) {
            const QChar c = authors.at(i);
            if (c == QLatin1Char('{'))
                ++depth;
            else if (c == QLatin1Char('}'))
                --depth;
            else if (depth == 0 && c.isSpace() && lower.mid(i + 1, 4) == QLatin1String("and ") &&
                     i + 4 < authors.size()) {
                names << authors.mid(start, i - start);
                start = i + 5;
                i += 4;
            }
        }
        names << authors.mid(start);
        return names;
    }

    QString value(QChar close) {
        QString result;
        for (;;) {
            skipBlanks();
            if (at_ >= text_.size())
                return result;
            const QChar c = text_.at(at_);
            if (c == QLatin1Char('{')) {
                const qsizetype start = ++at_;
                skipGroup(QLatin1Char('}'));
                result += text_.mid(start, at_ - 1 - start);
            } else if (c == QLatin1Char('"')) {
                const qsizetype start = ++at_;
                int depth = 0;
                while (at_ < text_.size() && (text_.at(at_) != QLatin1Char('"') || depth > 0)) {
                    if (text_.at(at_) == QLatin1Char('{'))
                        ++depth;
                    else if (text_.at(at_) == QLatin1Char('}'))
                        --depth;
                    ++at_;
                }
                result += text_.mid(start, at_ - start);
                ++at_;
            } else {
                const qsizetype start = at_;
                while (at_ < text_.size() && text_.at(at_) != QLatin1Char(',') &&
                       text_.at(at_) != close && text_.at(at_) != QLatin1Char('#') &&
                       !text_.at(at_).isSpace())
                    ++at_;
                result += text_.mid(start, at_ - start);
            }
            skipBlanks();
            if (at_ < text_.size() && text_.at(at_) == QLatin1Char('#')) {
                ++at_; // "a" # "b"
                continue;
            }
            return result;
        }
    }

    // Past the `close` that ends the group the reader stands in; braces inside nest.
    void skipGroup(QChar close) {
        int depth = 0;
        while (at_ < text_.size()) {
            const QChar c = text_.at(at_++);
            if (c == QLatin1Char('{'))
                ++depth;
            else if (c == QLatin1Char('}') && depth > 0)
                --depth;
            else if (c == close && depth == 0)
                return;
        }
    }

    bool skipTo(QChar c) {
        at_ = text_.indexOf(c, at_);
        if (at_ < 0)
            at_ = text_.size();
        return at_ < text_.size();
    }

    void skipBlanks() {
        while (at_ < text_.size() && text_.at(at_).isSpace())
            ++at_;
    }

    QString word() {
        const qsizetype start = at_;
        while (at_ < text_.size() &&
               (text_.at(at_).isLetterOrNumber() || text_.at(at_) == QLatin1Char('_') ||
                text_.at(at_) == QLatin1Char('-')))
            ++at_;
        return text_.mid(start, at_ - start);
    }

    int lineAt(qsizetype position) {
        for (; counted_ < position; ++counted_) {
            if (text_.at(counted_) == QLatin1Char('\n'))
                ++line_;
        }
        return line_;
    }

    const QString& text_;
    qsizetype at_ = 0;
    qsizetype counted_ = 0;
    int line_ = 1;
};

// --- CSL-JSON ---

QString JsonText(const QJsonValue& value) {
    if (value.isString())
        return value.toString().simplified();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    if (value.isArray()) // "container-title" is a list in some writers' hands
        return JsonText(value.toArray().at(0));
    return QString();
}

// The line each item of the top-level array starts on.
QList<int> ItemLines(const QString& text) {
    QList<int> lines;
    int line = 1;
    int depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n'))
            ++line;
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        if (c == QLatin1Char('"'))
            inString = true;
        else if (c == QLatin1Char('[') || c == QLatin1Char('{')) {
            if (depth == 1 && c == QLatin1Char('{'))
                lines << line;
            ++depth;
        } else if (c == QLatin1Char(']') || c == QLatin1Char('}')) {
            --depth;
        }
    }
    return lines;
}

QString DecodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gb("GB18030");
        text = gb.decode(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace

QString DoiInText(const QString& text) {
    static const QRegularExpression doi(QStringLiteral(R"((10\.\d{4,9}/[^\s"<>]+))"));
    const QRegularExpressionMatch match = doi.match(text);
    if (!match.hasMatch())
        return QString();
    QString value = match.captured(1);
    if (value.contains(QLatin1Char('%')))
        value = QUrl::fromPercentEncoding(value.toUtf8());
    while (!value.isEmpty() && QStringLiteral(".,;:)]}'").contains(value.back()))
        value.chop(1);
    // A registrant with nothing after it names no article.
    return value.endsWith(QLatin1Char('/')) ? QString() : value;
}

CitationFileContents ParseRis(const QString& text) {
    static const QRegularExpression tagLine(
        QStringLiteral(R"(^([A-Z][A-Z0-9])\s{1,2}-(?:\s(.*))?$)"));
    CitationFileContents contents;
    std::optional<ImportedCitation> entry;
    QString startPage, endPage, lastTag, journalFromT2;
    const auto finish = [&] {
        if (!entry)
            return;
        entry->metadata.pages = PagesFrom(startPage, endPage);
        if (entry->metadata.journal.isEmpty())
            entry->metadata.journal = journalFromT2;
        Keep(contents, *entry);
        entry.reset();
        startPage.clear();
        endPage.clear();
        journalFromT2.clear();
    };
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QRegularExpressionMatch match = tagLine.match(line);
        if (!match.hasMatch()) {
            // A long value wrapped onto the next line belongs to the tag before it.
            if (entry && !line.trimmed().isEmpty() &&
                (lastTag == QLatin1String("TI") || lastTag == QLatin1String("T1")))
                entry->metadata.title =
                    (entry->metadata.title + QLatin1Char(' ') + line).simplified();
            continue;
        }
        const QString tag = match.captured(1);
        const QString value = match.captured(2).trimmed();
        lastTag = tag;
        if (tag == QLatin1String("TY")) {
            finish(); // an entry whose ER is missing ends where the next one starts
            entry = ImportedCitation{};
            entry->line = n + 1;
            continue;
        }
        if (!entry)
            continue;
        ArticleMetadata& m = entry->metadata;
        if (tag == QLatin1String("ER"))
            finish();
        else if ((tag == QLatin1String("TI") || tag == QLatin1String("T1")) && m.title.isEmpty())
            m.title = value.simplified();
        else if (tag == QLatin1String("AU") || tag == QLatin1String("A1"))
            m.authors << NameInPageOrder(value);
        else if (tag == QLatin1String("DA") || (tag == QLatin1String("Y1") && m.date.isEmpty()))
            m.date = RisDate(value);
        else if (tag == QLatin1String("PY") && m.date.isEmpty())
            m.date = RisDate(value);
        else if (tag == QLatin1String("JO") || tag == QLatin1String("JF") ||
                 tag == QLatin1String("JA"))
            m.journal = m.journal.isEmpty() ? value : m.journal;
        else if (tag == QLatin1String("T2"))
            journalFromT2 = value;
        else if (tag == QLatin1String("VL"))
            m.volume = value;
        else if (tag == QLatin1String("IS"))
            m.issue = value;
        else if (tag == QLatin1String("SP"))
            startPage = value;
        else if (tag == QLatin1String("EP"))
            endPage = value;
        else if (tag == QLatin1String("M3"))
            m.kind = value;
        else if (tag == QLatin1String("DO"))
            m.doi = DoiInText(value);
        else if (tag == QLatin1String("UR") && entry->link.isEmpty())
            entry->link = value;
    }
    finish();
    return contents;
}

CitationFileContents ParseBibTeX(const QString& text) {
    return BibTeXReader(text).read();
}

CitationFileContents ParseCslJson(const QByteArray& bytes) {
    CitationFileContents contents;
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const int line = int(bytes.left(parse.offset).count('\n')) + 1;
        contents.error = QStringLiteral("第%1行：%2").arg(line).arg(parse.errorString());
        return contents;
    }
    QJsonArray items;
    if (document.isArray())
        items = document.array();
    else if (document.isObject())
        items.append(document.object());
    const QList<int> lines = ItemLines(DecodeText(bytes));
    for (qsizetype i = 0; i < items.size(); ++i) {
        ImportedCitation entry;
        entry.line = int(lines.value(i, 1));
        const QJsonObject item = items.at(i).toObject();
        ArticleMetadata& m = entry.metadata;
        m.title = JsonText(item.value(QStringLiteral("title")));
        for (const QJsonValue& value : item.value(QStringLiteral("author")).toArray()) {
            const QJsonObject name = value.toObject();
            const QString literal = JsonText(name.value(QStringLiteral("literal")));
            const QString family = JsonText(name.value(QStringLiteral("family")));
            const QString given = JsonText(name.value(QStringLiteral("given")));
            const QString whole = !literal.isEmpty() ? literal
                                  : given.isEmpty()  ? family
                                                    : (given + QLatin1Char(' ') + family).trimmed();
            if (!whole.isEmpty())
                m.authors << whole;
        }
        const QJsonObject issued = item.value(QStringLiteral("issued")).toObject();
        const QJsonArray parts =
            issued.value(QStringLiteral("date-parts")).toArray().at(0).toArray();
        // Some writers give the parts as strings ("2025", "12").
        const auto part = [&parts](int n) {
            return JsonText(parts.at(n)).toInt();
        };
        if (part(0) > 0)
            m.date = IsoFromParts(part(0), part(1), part(2));
        else
            m.date = IsoDateOf(JsonText(issued.value(QStringLiteral("raw"))));
        m.journal = JsonText(item.value(QStringLiteral("container-title")));
        m.volume = JsonText(item.value(QStringLiteral("volume")));
        m.issue = JsonText(item.value(QStringLiteral("issue")));
        const QStringList range =
            JsonText(item.value(QStringLiteral("page")))
                .split(QRegularExpression(QStringLiteral("\\s*[-\\x{2013}]+\\s*")));
        m.pages = PagesFrom(range.value(0), range.value(1));
        m.kind = JsonText(item.value(QStringLiteral("genre")));
        m.doi = DoiInText(JsonText(item.value(QStringLiteral("DOI"))));
        entry.link = JsonText(item.value(QStringLiteral("URL")));
        Keep(contents, entry);
    }
    return contents;
}

CitationFileContents ParseDoiList(const QString& text) {
    CitationFileContents contents;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        ImportedCitation entry;
        entry.line = n + 1;
        entry.metadata.doi = DoiInText(line);
        if (entry.metadata.doi.isEmpty())
            entry.link = line;
        Keep(contents, entry);
    }
    return contents;
}

CitationFileContents ParseCitationFile(const QString& path, const QByteArray& bytes) {
    const QString text = DecodeText(bytes);
    if (const std::optional<CitationFormat> format = CitationFormatOfPath(path)) {
        switch (*format) {
        case CitationFormat::Ris:
            return ParseRis(text);
        case CitationFormat::BibTeX:
            return ParseBibTeX(text);
        case CitationFormat::CslJson:
            return ParseCslJson(text.toUtf8());
        }
    }
    const QString start = text.trimmed();
    if (start.startsWith(QLatin1String("TY  -")))
        return ParseRis(text);
    if (start.startsWith(QLatin1Char('@')))
        return ParseBibTeX(text);
    if (start.startsWith(QLatin1Char('[')) || start.startsWith(QLatin1Char('{')))
        return ParseCslJson(text.toUtf8());
    return ParseDoiList(text);
}
