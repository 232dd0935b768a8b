#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class KeyedListModel;

// Citation files for reference managers, written beside the downloaded files so that an import
// attaches each PDF to its entry, and read back so that a reading list becomes downloads.

// What the result page showed of an article, kept with its record and its download row. Every
// field is as the page showed it; a field the page did not show stays empty.
struct ArticleMetadata {
    QString title;
    QStringList authors; // in the page's order, each "Given Family" or "Family, Given"
    QString date;        // "2023", "2023-05" or "2023-05-05"
    QString journal;
    QString volume;
    QString issue;
    QString pages; // "1234-1238", "1234", or an article number ("eadg1234")
    QString kind;  // "Research Article", "Report", ...
    QString doi;   // the DOI the page showed beside the article, "" when it showed none
    bool isEmpty() const;
    bool operator==(const ArticleMetadata&) const = default;
};

// The row's hidden value: compact JSON, "" for empty metadata. Decoding anything that is not
// such a value gives empty metadata.
QString EncodeArticleMetadata(const ArticleMetadata& metadata);
ArticleMetadata DecodeArticleMetadata(const QString& value);

// The journal a DOI of the journal's publisher names by its code ("10.1126/sciadv.abc1" is
// "Science Advances"); "" for any other DOI.
QString JournalOfDoi(const QString& doi);
// The journal's name when `text` is one of the publisher's journals, in any letter case (the
// site shows them upper-cased); "" otherwise.
QString KnownJournalName(const QString& text);
// True for a DOI of the journal's publisher, whose articles its site serves.
bool IsJournalSiteDoi(const QString& doi);

// An ISO date ("2023-05-05", "2023-05", "2023") from a date as pages show it: "5 May 2023",
// "May 5, 2023", "5 May. 2023", "May 2023", "2023-05-05", "2023"; "" when `text` holds none.
// A month name may be abbreviated and in any letter case.
QString IsoDateOf(const QString& text);

// A name as family and given part: "Family, Given" as written, else the last word (with the
// lower-case particles before it: "van der", "de la") is the family name.
struct PersonName {
    QString family;
    QString given;
};
PersonName SplitPersonName(const QString& name);

// The download row's metadata (DownloadHidden::Citation), with the record's title.
ArticleMetadata RowMetadata(const KeyedListModel& list, int position);
void SetRowMetadata(KeyedListModel& list, int position, const ArticleMetadata& metadata);

struct CitationEntry {
    ArticleMetadata metadata; // the journal filled from the DOI where the page named none
    QString doi;              // "" when neither the link nor the page names one
    QString pageUrl;          // the article's own page
    QString filePath;         // "" when the row has no file of the article
};

enum class CitationFormat { Ris, BibTeX, CslJson };

// The format a chosen file name asks for by its extension (".ris", ".bib", ".json"), case-blind.
std::optional<CitationFormat> CitationFormatOfPath(const QString& path);
// ".ris", ".bib" or ".json".
QString CitationExtension(CitationFormat format);

// The DOI an address names ("…/doi/pdf/10.1126/science.abc1234?download=true",
// "…?doi=10.1126%2Fscience.1"), percent-decoded; "" when it names none.
QString DoiOfAddress(const QString& address);

// One article, however its link is spelled: the DOI (case-blind) when the link names one, else
// the link itself. Two links with one identity fetch the same file.
QString ArticleIdentity(const QString& link);

// The entry of a download row: the DOI from the link, else the one the page showed beside the
// article, else one in the page's own address; the article's page is the journal's page for the
// DOI, else the link itself.
CitationEntry CitationOf(const ArticleMetadata& metadata, const QString& link, const QString& page,
                         const QString& filePath);

// The whole file in UTF-8, one entry per element in order.
QByteArray CitationFileText(const QList<CitationEntry>& entries, CitationFormat format);
