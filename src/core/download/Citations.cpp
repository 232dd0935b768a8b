#include "core/download/Citations.h"

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <utility>

namespace {

const QString kJournalSite = QStringLiteral("https://www.science.org");
const QString kPublisherPrefix = QStringLiteral("10.1126/");

struct JournalCode {
    const char* code;
    const char* name;
};
// The publisher's journals by the code their DOIs start with.
const JournalCode kJournals[] = {
    {"science", "Science"},
    {"sciadv", "Science Advances"},
    {"scisignal", "Science Signaling"},
    {"sciimmunol", "Science Immunology"},
    {"scirobotics", "Science Robotics"},
    {"scitranslmed", "Science Translational Medicine"},
};

QString CleanLine(QString text) {
    // A tagged line ends at the line break; an entry's title never spans two.
    for (QChar& c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    return text;
}

QString OneLine(const QString& text) {
    return CleanLine(text).simplified();
}

struct DateParts {
    int year = 0;
    int month = 0;
    int day = 0;
};

DateParts DatePartsOf(const QString& iso) {
    const QStringList parts = iso.split(QLatin1Char('-'));
    DateParts date;
    date.year = parts.value(0).toInt();
    date.month = parts.value(1).toInt();
    date.day = parts.value(2).toInt();
    return date;
}

// "1234-1238" as its first and last page; an article number or a single page has no last.
std::pair<QString, QString> PageRange(const QString& pages) {
    static const QRegularExpression range(
        QStringLiteral(R"(^\s*([^\s\-\x{2013}]+)\s*(?:-+|\x{2013})\s*(\S+)\s*$)"));
    const QRegularExpressionMatch match = range.match(pages);
    if (match.hasMatch())
        return {match.captured(1), match.captured(2)};
    return {pages.trimmed(), QString()};
}

QString RisName(const QString& name) {
    const PersonName person = SplitPersonName(name);
    return person.given.isEmpty() ? person.family
                                  : person.family + QLatin1String(", ") + person.given;
}

QString RisText(const QList<CitationEntry>& entries) {
    QString text;
    const auto tag = [&text](const char* name, const QString& value) {
        if (value.isEmpty())
            return;
        text +=
            QLatin1String(name) + QLatin1String("  - ") + OneLine(value) + QLatin1String("\r\n");
    };
    for (const CitationEntry& entry : entries) {
        const ArticleMetadata& m = entry.metadata;
        text += QLatin1String("TY  - JOUR\r\n");
        tag("TI", m.title);
        for (const QString& author : m.authors)
            tag("AU", RisName(author));
        if (!m.date.isEmpty()) {
            const DateParts date = DatePartsOf(m.date);
            tag("PY", QString::number(date.year));
            // "YYYY/MM/DD/": the parts a page did not show stay empty.
            const auto part = [](int n) {
                return n > 0 ? QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')) : QString();
            };
            if (date.month > 0)
                tag("DA", QStringLiteral("%1/%2/%3/")
                              .arg(date.year)
                              .arg(part(date.month), part(date.day)));
        }
        tag("JO", m.journal);
        tag("T2", m.journal);
        tag("VL", m.volume);
        tag("IS", m.issue);
        const auto [first, last] = PageRange(m.pages);
        tag("SP", first);
        tag("EP", last);
        tag("M3", m.kind);
        tag("DO", entry.doi);
        tag("UR", entry.pageUrl);
        tag("L1", entry.filePath);
        text += QLatin1String("ER  - \r\n\r\n");
    }
    return text;
}

// Braces delimit a BibTeX value and a backslash starts a command, so text characters that
// would be read as markup are written as the commands that print them.
bool BracesBalanced(const QString& text);

QString BibTeXText(const QString& value) {
    QString out;
    out.reserve(value.size());
    // BibTeX counts every brace, escaped or not, to find where a value ends: braces that do
    // not pair up are written as the commands that print them.
    const bool paired = BracesBalanced(value);
    for (const QChar c : CleanLine(value)) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\textbackslash{}");
            break;
        case '{':
        case '}':
            if (!paired) {
                out += c == QLatin1Char('{') ? QLatin1String("\\textbraceleft{}")
                                             : QLatin1String("\\textbraceright{}");
                break;
            }
            out += QLatin1Char('\\');
            out += c;
            break;
        case '&':
        case '%':
        case '$':
        case '#':
        case '_':
            out += QLatin1Char('\\');
            out += c;
            break;
        case '~':
            out += QLatin1String("\\textasciitilde{}");
            break;
        case '^':
            out += QLatin1String("\\textasciicircum{}");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// An address or a path is read verbatim by reference managers; only braces could end the value
// early, and they are percent-encoded as in any address.
QString BibTeXVerbatim(const QString& value) {
    QString out = CleanLine(value);
    out.replace(QLatin1Char('{'), QLatin1String("%7B"));
    out.replace(QLatin1Char('}'), QLatin1String("%7D"));
    return out;
}

bool BracesBalanced(const QString& text) {
    int depth = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && --depth < 0)
            return false;
    }
    return depth == 0;
}

// The file field lists "description:path:type"; a path's own ":" and ";" are escaped. Braces
// that pair up are kept as the file system has them; a lone one would end the value, and only
// then is it written percent-encoded.
QString BibTeXFileField(const QString& path) {
    QString escaped = BracesBalanced(path) ? CleanLine(path) : BibTeXVerbatim(path);
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char(':'), QLatin1String("\\:"));
    escaped.replace(QLatin1Char(';'), QLatin1String("\\;"));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString type = dot > path.lastIndexOf(QLatin1Char('/')) && dot >= 0
                             ? path.mid(dot + 1).toUpper()
                             : QString();
    return QLatin1Char(':') + escaped + QLatin1Char(':') + type;
}

// "Family, Given" for the " and " list; a name that holds the word "and" itself is one name
// only when braced.
QString BibTeXName(const QString& name) {
    const PersonName person = SplitPersonName(name);
    QString family = BibTeXText(person.family);
    static const QRegularExpression andWord(QStringLiteral(R"(\band\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (andWord.match(family).hasMatch() || andWord.match(person.given).hasMatch())
        return QLatin1Char('{') + BibTeXText(OneLine(name)) + QLatin1Char('}');
    return person.given.isEmpty() ? family
                                  : family + QLatin1String(", ") + BibTeXText(person.given);
}

// Keys are ASCII letters, digits and "-"; each is unique within the file.
QString EntryKey(const CitationEntry& entry, int number, QSet<QString>& used) {
    QString key;
    for (const QChar c : entry.doi.section(QLatin1Char('/'), 1)) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
            (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            key += c;
        else if (!key.isEmpty() && !key.endsWith(QLatin1Char('-')))
            key += QLatin1Char('-');
    }
    while (key.endsWith(QLatin1Char('-')))
        key.chop(1);
    if (key.isEmpty())
        key = QStringLiteral("item%1").arg(number);
    QString unique = key;
    for (int n = 2; used.contains(unique); ++n)
        unique = key + QLatin1Char('-') + QString::number(n);
    used.insert(unique);
    return unique;
}

QString BibText(const QList<CitationEntry>& entries) {
    QString text;
    QSet<QString> used;
    int number = 0;
    for (const CitationEntry& entry : entries) {
        text += QLatin1String("@article{") + EntryKey(entry, ++number, used) + QLatin1String(",\n");
        const auto field = [&text](const char* name, const QString& value) {
            if (!value.isEmpty())
                text += QLatin1String("  ") + QLatin1String(name) + QLatin1String(" = {") + value +
                        QLatin1String("},\n");
        };
        const ArticleMetadata& m = entry.metadata;
        field("title", BibTeXText(m.title));
        QStringList names;
        for (const QString& author : m.authors)
            names << BibTeXName(author);
        field("author", names.join(QLatin1String(" and ")));
        if (!m.date.isEmpty()) {
            const DateParts date = DatePartsOf(m.date);
            field("year", QString::number(date.year));
            if (date.month > 0)
                field("month", QString::number(date.month));
            if (date.month > 0 && date.day > 0)
                field("day", QString::number(date.day));
        }
        field("journal", BibTeXText(m.journal));
        field("volume", BibTeXText(m.volume));
        field("number", BibTeXText(m.issue));
        const auto [first, last] = PageRange(m.pages);
        field("pages", BibTeXText(last.isEmpty() ? first : first + QLatin1String("--") + last));
        field("type", BibTeXText(m.kind));
        field("doi", BibTeXVerbatim(entry.doi));
        field("url", BibTeXVerbatim(entry.pageUrl));
        if (!entry.filePath.isEmpty())
            field("file", BibTeXFileField(entry.filePath));
        text += QLatin1String("}\n\n");
    }
    return text;
}

QByteArray CslJsonText(const QList<CitationEntry>& entries) {
    QJsonArray items;
    QSet<QString> used;
    int number = 0;
    for (const CitationEntry& entry : entries) {
        QJsonObject item;
        item.insert(QStringLiteral("id"), EntryKey(entry, ++number, used));
        item.insert(QStringLiteral("type"), QStringLiteral("article-journal"));
        const auto put = [&item](const char* name, const QString& value) {
            if (!value.isEmpty())
                item.insert(QLatin1String(name), CleanLine(value));
        };
        const ArticleMetadata& m = entry.metadata;
        put("title", OneLine(m.title));
        QJsonArray authors;
        for (const QString& author : m.authors) {
            const PersonName person = SplitPersonName(author);
            QJsonObject name;
            name.insert(QStringLiteral("family"), person.family);
            if (!person.given.isEmpty())
                name.insert(QStringLiteral("given"), person.given);
            authors.append(name);
        }
        if (!authors.isEmpty())
            item.insert(QStringLiteral("author"), authors);
        if (!m.date.isEmpty()) {
            const DateParts date = DatePartsOf(m.date);
            QJsonArray parts{date.year};
            if (date.month > 0)
                parts.append(date.month);
            if (date.month > 0 && date.day > 0)
                parts.append(date.day);
            item.insert(QStringLiteral("issued"),
                        QJsonObject{{QStringLiteral("date-parts"), QJsonArray{parts}}});
        }
        put("container-title", m.journal);
        put("volume", m.volume);
        put("issue", m.issue);
        const auto [first, last] = PageRange(m.pages);
        put("page", last.isEmpty() ? first : first + QLatin1Char('-') + last);
        put("genre", m.kind);
        put("DOI", entry.doi);
        put("URL", entry.pageUrl);
        items.append(item);
    }
    return QJsonDocument(items).toJson(QJsonDocument::Indented);
}

} // namespace

bool ArticleMetadata::isEmpty() const {
    return *this == ArticleMetadata{};
}

QString EncodeArticleMetadata(const ArticleMetadata& m) {
    if (m.isEmpty())
        return QString();
    QJsonObject object;
    const auto put = [&object](const char* name, const QString& value) {
        if (!value.isEmpty())
            object.insert(QLatin1String(name), value);
    };
    put("title", m.title);
    if (!m.authors.isEmpty())
        object.insert(QStringLiteral("authors"), QJsonArray::fromStringList(m.authors));
    put("date", m.date);
    put("journal", m.journal);
    put("volume", m.volume);
    put("issue", m.issue);
    put("pages", m.pages);
    put("kind", m.kind);
    put("doi", m.doi);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ArticleMetadata DecodeArticleMetadata(const QString& value) {
    ArticleMetadata m;
    const QJsonDocument document = QJsonDocument::fromJson(value.toUtf8());
    if (!document.isObject())
        return m;
    const QJsonObject object = document.object();
    const auto text = [&object](const char* name) {
        return object.value(QLatin1String(name)).toString();
    };
    m.title = text("title");
    for (const QJsonValue& author : object.value(QStringLiteral("authors")).toArray()) {
        if (author.isString() && !author.toString().isEmpty())
            m.authors << author.toString();
    }
    m.date = IsoDateOf(text("date"));
    m.journal = text("journal");
    m.volume = text("volume");
    m.issue = text("issue");
    m.pages = text("pages");
    m.kind = text("kind");
    m.doi = text("doi");
    return m;
}

ArticleMetadata RowMetadata(const KeyedListModel& list, int position) {
    return DecodeArticleMetadata(list.HiddenValue(position, DownloadHidden::Citation));
}

void SetRowMetadata(KeyedListModel& list, int position, const ArticleMetadata& metadata) {
    list.SetHiddenValue(position, DownloadHidden::Citation, EncodeArticleMetadata(metadata));
}

bool IsJournalSiteDoi(const QString& doi) {
    return doi.startsWith(kPublisherPrefix, Qt::CaseInsensitive) &&
           doi.size() > kPublisherPrefix.size();
}

QString JournalOfDoi(const QString& doi) {
    if (!IsJournalSiteDoi(doi))
        return QString();
    const QString code = doi.mid(kPublisherPrefix.size()).section(QLatin1Char('.'), 0, 0);
    for (const JournalCode& journal : kJournals) {
        if (code.compare(QLatin1String(journal.code), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(journal.name);
    }
    return QString();
}

QString KnownJournalName(const QString& text) {
    const QString shown = text.simplified();
    for (const JournalCode& journal : kJournals) {
        if (shown.compare(QLatin1String(journal.name), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(journal.name);
    }
    return QString();
}

QString IsoDateOf(const QString& text) {
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    const auto monthOf = [](const QString& name) {
        const QString lower = name.toLower();
        for (int m = 0; m < 12; ++m) {
            // "Sept" and the full names start with the three letters.
            if (lower.startsWith(QLatin1String(months[m])))
                return m + 1;
        }
        return 0;
    };
    const auto iso = [](int year, int month, int day) {
        if (year < 1000 || year > 9999 || month < 0 || month > 12 || day < 0 || day > 31 ||
            (month == 0 && day > 0))
            return QString();
        QString out = QString::number(year);
        if (month > 0)
            out += QStringLiteral("-%1").arg(month, 2, 10, QLatin1Char('0'));
        if (day > 0)
            out += QStringLiteral("-%1").arg(day, 2, 10, QLatin1Char('0'));
        return out;
    };
    static const QString month = QStringLiteral(
        R"((jan(?:uary)?|feb(?:ruary)?|mar(?:ch)?|apr(?:il)?|may|june?|july?|aug(?:ust)?|sep(?:t(?:ember)?)?|oct(?:ober)?|nov(?:ember)?|dec(?:ember)?)\.?)");
    static const QRegularExpression isoForm(
        QStringLiteral(R"(\b(\d{4})-(\d{1,2})(?:-(\d{1,2}))?\b)"));
    static const QRegularExpression dayMonthYear(QStringLiteral(R"(\b(\d{1,2})\s+)") + month +
                                                     QStringLiteral(R"(,?\s+(\d{4})\b)"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression monthDayYear(
        QStringLiteral(R"(\b)") + month + QStringLiteral(R"(\s+(\d{1,2}),?\s+(\d{4})\b)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression monthYear(QStringLiteral(R"(\b)") + month +
                                                  QStringLiteral(R"(,?\s+(\d{4})\b)"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression yearOnly(QStringLiteral(R"(^\s*(\d{4})\s*$)"));
    QRegularExpressionMatch match = isoForm.match(text);
    if (match.hasMatch())
        return iso(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if ((match = dayMonthYear.match(text)).hasMatch())
        return iso(match.captured(3).toInt(), monthOf(match.captured(2)),
                   match.captured(1).toInt());
    if ((match = monthDayYear.match(text)).hasMatch())
        return iso(match.captured(3).toInt(), monthOf(match.captured(1)),
                   match.captured(2).toInt());
    if ((match = monthYear.match(text)).hasMatch())
        return iso(match.captured(2).toInt(), monthOf(match.captured(1)), 0);
    if ((match = yearOnly.match(text)).hasMatch())
        return iso(match.captured(1).toInt(), 0, 0);
    return QString();
}

PersonName SplitPersonName(const QString& name) {
    const QString shown = OneLine(name);
    const qsizetype comma = shown.indexOf(QLatin1Char(','));
    if (comma > 0)
        return {shown.left(comma).trimmed(), shown.mid(comma + 1).trimmed()};
    QStringList words = shown.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return {shown, QString()};
    // Particles written in lower case belong to the family name ("Johannes van der Waals").
    qsizetype first = words.size() - 1;
    while (first > 1 && words.at(first - 1).at(0).isLower())
        --first;
    return {words.mid(first).join(QLatin1Char(' ')), words.mid(0, first).join(QLatin1Char(' '))};
}

QString CitationExtension(CitationFormat format) {
    switch (format) {
    case CitationFormat::Ris:
        return QStringLiteral(".ris");
    case CitationFormat::BibTeX:
        return QStringLiteral(".bib");
    case CitationFormat::CslJson:
        return QStringLiteral(".json");
    }
    return QString();
}

std::optional<CitationFormat> CitationFormatOfPath(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toLower();
    if (name.endsWith(QLatin1String(".ris")))
        return CitationFormat::Ris;
    if (name.endsWith(QLatin1String(".bib")))
        return CitationFormat::BibTeX;
    if (name.endsWith(QLatin1String(".json")))
        return CitationFormat::CslJson;
    return std::nullopt;
}

QString DoiOfAddress(const QString& address) {
    // A DOI starts with "10.", a registrant number and "/"; in an address it runs to the query,
    // the fragment or the next parameter. The registrant's "/" may arrive percent-encoded.
    static const QRegularExpression doi(
        QStringLiteral(R"((?:^|[/=])(10\.\d{4,9}(?:/|%2[Ff])[^?#&\s]+))"));
    const QRegularExpressionMatch match = doi.match(address);
    if (!match.hasMatch())
        return QString();
    QString value = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

QString ArticleIdentity(const QString& link) {
    const QString doi = DoiOfAddress(link);
    return doi.isEmpty() ? link : QStringLiteral("doi:") + doi.toLower();
}

CitationEntry CitationOf(const ArticleMetadata& metadata, const QString& link, const QString& page,
                         const QString& filePath) {
    CitationEntry entry;
    entry.metadata = metadata;
    entry.metadata.title = OneLine(metadata.title);
    entry.filePath = filePath;
    entry.doi = DoiOfAddress(link);
    if (entry.doi.isEmpty())
        entry.doi = metadata.doi.trimmed();
    if (entry.doi.isEmpty())
        entry.doi = DoiOfAddress(page);
    if (entry.metadata.journal.isEmpty())
        entry.metadata.journal = JournalOfDoi(entry.doi);
    if (entry.doi.isEmpty()) {
        entry.pageUrl = link;
        return entry;
    }
    // The journal's own page for the article is its site's "/doi/<DOI>", under the link's own
    // site where the link has that form (an institution's proxy serves the same path).
    const QUrl url(link);
    const qsizetype doiPath = url.path().indexOf(QLatin1String("/doi/"));
    if (url.isValid() && !url.host().isEmpty() && doiPath >= 0) {
        entry.pageUrl = url.scheme() + QLatin1String("://") + url.authority() +
                        url.path().left(doiPath) + QLatin1String("/doi/") + entry.doi;
    } else {
        entry.pageUrl = kJournalSite + QLatin1String("/doi/") + entry.doi;
    }
    return entry;
}

QByteArray CitationFileText(const QList<CitationEntry>& entries, CitationFormat format) {
    switch (format) {
    case CitationFormat::Ris:
        return RisText(entries).toUtf8();
    case CitationFormat::BibTeX:
        return BibText(entries).toUtf8();
    case CitationFormat::CslJson:
        return CslJsonText(entries);
    }
    return {};
}
