#include "core/search/RecordMetadata.h"

#include "core/app/FileHelpers.h"
#include "core/download/Naming.h"
#include "core/platform/KeyedListModel.h"
#include "core/search/TodaySite.h"

#include <QRegularExpression>

namespace {

void FillOnce(QString& field, const QString& value) {
    if (field.isEmpty())
        field = value.simplified();
}

// The class tokens of an element, lower-cased: the former site's rules ignore letter case.
QStringList LowerTokens(const DomElement& element) {
    return element.className.toLower().simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Pages as "12-15" whatever dash and spacing the page used.
QString PagesOf(const QString& first, const QString& last) {
    const QString from = first.simplified();
    const QString to = last.simplified();
    return to.isEmpty() || to == from ? from : from + QLatin1Char('-') + to;
}

// "A. Author, B. Author, and C. Author et al." as names.
QStringList SplitAuthorList(const QString& list) {
    static const QRegularExpression separators(QStringLiteral(R"(\s*(?:,|;|\band\b|&)\s*)"));
    static const QRegularExpression etAl(QStringLiteral(R"(\bet\.?\s*al\.?)"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString text = list.simplified();
    text.remove(etAl);
    QStringList names;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            names << part.trimmed();
    }
    return names;
}

} // namespace

void ReadCitationLine(const QString& line, ArticleMetadata& metadata) {
    const QString text = line.simplified();
    if (text.isEmpty())
        return;
    static const QRegularExpression journalStart(
        QStringLiteral(R"(^((?:Science)(?:\s+(?:Advances|Signaling|Immunology|Robotics|)"
                       R"(Translational\s+Medicine))?)(?![A-Za-z]))"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression volume(QStringLiteral(R"(\bVol(?:ume)?\.?\s*(\d+))"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression issue(
        QStringLiteral(R"(\b(?:Issue|No\.?|Number)\s*(\d+[A-Za-z]?)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression pages(
        QStringLiteral(R"(\bpp?\.\s*([A-Za-z]?\d+)(?:\s*(?:-+|\x{2013})\s*([A-Za-z]?\d+))?)"),
        QRegularExpression::CaseInsensitiveOption);
    // An article number: "e" and the letters and digits of the DOI's suffix.
    static const QRegularExpression articleNumber(QStringLiteral(R"(\b(e[a-z]{1,4}\d{3,6})\b)"));

    if (const QRegularExpressionMatch m = journalStart.match(text); m.hasMatch())
        FillOnce(metadata.journal, KnownJournalName(m.captured(1)));
    // The date stands before the ":" that leads to volume and pages.
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    FillOnce(metadata.date, IsoDateOf(colon > 0 ? text.left(colon) : text));
    if (const QRegularExpressionMatch m = volume.match(text); m.hasMatch())
        FillOnce(metadata.volume, m.captured(1));
    if (const QRegularExpressionMatch m = issue.match(text); m.hasMatch())
        FillOnce(metadata.issue, m.captured(1));
    if (const QRegularExpressionMatch m = pages.match(text); m.hasMatch())
        FillOnce(metadata.pages, PagesOf(m.captured(1), m.captured(2)));
    else if (const QRegularExpressionMatch n = articleNumber.match(text); n.hasMatch())
        FillOnce(metadata.pages, n.captured(1));
}

ArticleMetadata TodayCardMetadata(const Dom& document, int card, PageKind kind) {
    const TodayMarkup& m = Markup();
    ArticleMetadata metadata;
    if (card < 0 || card >= document.size())
        return metadata;
    for (int i = card + 1; i < document.at(card).end; ++i) {
        const DomElement& e = document.at(i);
        if (HasClassToken(e, m.authorToken)) {
            const QString name = e.innerText.simplified();
            if (!name.isEmpty())
                metadata.authors << name;
        } else if (HasClassToken(e, m.kindToken)) {
            FillOnce(metadata.kind, e.innerText);
        } else if (e.tagName == m.dateTag) {
            FillOnce(metadata.date, IsoDateOf(e.innerText));
        } else if (HasClassToken(e, m.metaItemToken)) {
            const QString journal = KnownJournalName(e.innerText);
            if (!journal.isEmpty())
                FillOnce(metadata.journal, journal);
            else
                ReadCitationLine(e.innerText, metadata);
        }
    }
    if (kind == PageKind::TodayIssue) {
        const QRegularExpressionMatch issue = m.issueAddress.match(document.URL);
        if (issue.hasMatch()) {
            FillOnce(metadata.journal,
                     JournalOfDoi(QStringLiteral("10.1126/") + issue.captured(1) + '.'));
            FillOnce(metadata.volume, issue.captured(2));
            FillOnce(metadata.issue, issue.captured(3));
        }
    }
    return metadata;
}

ArticleMetadata FormerEntryMetadata(const Dom& document, int entry) {
    ArticleMetadata metadata;
    if (entry < 0 || entry >= document.size())
        return metadata;
    static const QRegularExpression doi(QStringLiteral(R"((10\.\d{4,9}/\S+))"));
    QString authorList, firstPage, lastPage;
    QStringList lines;
    for (int i = entry + 1; i < document.at(entry).end; ++i) {
        const DomElement& e = document.at(i);
        const QStringList tokens = LowerTokens(e);
        const QString text = e.innerText.simplified();
        if (tokens.isEmpty() || text.isEmpty())
            continue;
        if (tokens.contains(QLatin1String("cit-auth")))
            metadata.authors << text;
        else if (tokens.contains(QLatin1String("cit-auth-list")))
            authorList = text;
        else if (tokens.contains(QLatin1String("cit-section")))
            FillOnce(metadata.kind, text);
        else if (tokens.contains(QLatin1String("cit-vol")))
            ReadCitationLine(text.at(0).isDigit() ? "Vol. " + text : text, metadata);
        else if (tokens.contains(QLatin1String("cit-issue")))
            ReadCitationLine(text.at(0).isDigit() ? "No. " + text : text, metadata);
        else if (tokens.contains(QLatin1String("cit-first-page")))
            firstPage = text.section(QLatin1Char(' '), -1);
        else if (tokens.contains(QLatin1String("cit-last-page")))
            lastPage = text.section(QLatin1Char(' '), -1);
        else if (tokens.contains(QLatin1String("cit-doi"))) {
            if (const QRegularExpressionMatch m = doi.match(text); m.hasMatch())
                FillOnce(metadata.doi, m.captured(1));
        } else if (tokens.contains(QLatin1String("cit-print-date")) ||
                   tokens.contains(QLatin1String("cit-ahead-of-print-date")))
            lines << text;
    }
    if (metadata.authors.isEmpty())
        metadata.authors = SplitAuthorList(authorList);
    if (!firstPage.isEmpty())
        FillOnce(metadata.pages, PagesOf(firstPage, lastPage));
    for (const QString& line : lines)
        ReadCitationLine(line, metadata);
    return metadata;
}

ArticleMetadata RecordMetadata(const KeyedListModel& list, int position) {
    return DecodeArticleMetadata(list.HiddenValue(position, SearchHidden::Citation));
}

void SetRecordMetadata(KeyedListModel& list, int position, const ArticleMetadata& metadata) {
    list.SetHiddenValue(position, SearchHidden::Citation, EncodeArticleMetadata(metadata));
}

QString RecordFileName(const QString& link, const QString& title, bool useLinkFileName) {
    QString cleanTitle = TrimSpaces(RemoveLineBreaks(title));
    // Ideographic and no-break spaces are blanks too; such a title names nothing.
    if (cleanTitle.trimmed().isEmpty())
        cleanTitle.clear();
    QString name = CleanFileName(useLinkFileName ? RecordFileNameFromLink(link) : cleanTitle);
    // A name that cleans away entirely would make a hidden ".pdf" the user never sees; take
    // the link's name instead, and a plain word when that is empty too.
    if (name.isEmpty())
        name = CleanFileName(FileNameFromLink(link, true));
    if (name.isEmpty())
        name = QStringLiteral("未命名");
    return name;
}

QString ImportedArticleLink(const ImportedCitation& entry) {
    const QString& doi = entry.metadata.doi;
    if (doi.isEmpty())
        return entry.link;
    if (IsTrapDoi(doi))
        return QString();
    if (IsJournalSiteDoi(doi))
        return TodayPdfLink(QStringLiteral("https://www.science.org/"), doi);
    return QStringLiteral("https://doi.org/") + doi;
}

QString ImportedArticleName(const ImportedCitation& entry, const QString& link,
                            bool useLinkFileName) {
    QString title = entry.metadata.title;
    if (title.trimmed().isEmpty())
        title = QString(entry.metadata.doi).replace(QLatin1Char('/'), QLatin1Char('_'));
    return RecordFileName(link, title, useLinkFileName);
}

QList<ImportedRow> ImportedRows(const CitationFileContents& contents, bool useLinkFileName) {
    QList<ImportedRow> rows;
    rows.reserve(contents.entries.size());
    for (const ImportedCitation& entry : contents.entries) {
        ImportedRow row;
        row.line = entry.line;
        row.link = ImportedArticleLink(entry);
        if (!row.link.isEmpty())
            row.name = ImportedArticleName(entry, row.link, useLinkFileName);
        row.metadata = entry.metadata;
        rows.append(row);
    }
    return rows;
}
