#include "core/download/Citations.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace {

const QString kJournal = QStringLiteral("Science");
const QString kJournalSite = QStringLiteral("https://www.science.org");

QString CleanLine(QString text) {
    // A tagged line ends at the line break; an entry's title never spans two.
    for (QChar& c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    return text;
}

QString RisText(const QList<CitationEntry>& entries) {
    QString text;
    const auto tag = [&text](const char* name, const QString& value) {
        if (value.isEmpty())
            return;
        text +=
            QLatin1String(name) + QLatin1String("  - ") + CleanLine(value) + QLatin1String("\r\n");
    };
    for (const CitationEntry& entry : entries) {
        text += QLatin1String("TY  - JOUR\r\n");
        tag("TI", entry.title);
        tag("JO", entry.journal);
        tag("DO", entry.doi);
        tag("UR", entry.pageUrl);
        tag("L1", entry.filePath);
        text += QLatin1String("ER  - \r\n\r\n");
    }
    return text;
}

// Braces delimit a BibTeX value and a backslash starts a command, so text characters that
// would be read as markup are written as the commands that print them.
QString BibTeXText(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : CleanLine(value)) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\textbackslash{}");
            break;
        case '{':
        case '}':
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
        field("title", BibTeXText(entry.title));
        field("journal", BibTeXText(entry.journal));
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
        put("title", entry.title);
        put("container-title", entry.journal);
        put("DOI", entry.doi);
        put("URL", entry.pageUrl);
        items.append(item);
    }
    return QJsonDocument(items).toJson(QJsonDocument::Indented);
}

} // namespace

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

CitationEntry CitationOf(const QString& title, const QString& link, const QString& page,
                         const QString& filePath) {
    CitationEntry entry;
    entry.title = CleanLine(title).simplified();
    entry.journal = kJournal;
    entry.filePath = filePath;
    entry.doi = DoiOfAddress(link);
    if (entry.doi.isEmpty())
        entry.doi = DoiOfAddress(page);
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
