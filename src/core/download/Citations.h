#pragma once

#include <QList>
#include <QString>

#include <optional>

// Citation files for reference managers, written beside the downloaded files so that an import
// attaches each PDF to its entry.

struct CitationEntry {
    QString title;
    QString doi;     // "" when neither the link nor the page names one
    QString journal; // "Science"
    QString pageUrl; // the article's own page
    QString filePath;
};

enum class CitationFormat { Ris, BibTeX, CslJson };

// The format a chosen file name asks for by its extension (".ris", ".bib", ".json"), case-blind.
std::optional<CitationFormat> CitationFormatOfPath(const QString& path);

// The DOI an address names ("…/doi/pdf/10.1126/science.abc1234?download=true",
// "…?doi=10.1126%2Fscience.1"), percent-decoded; "" when it names none.
QString DoiOfAddress(const QString& address);

// One article, however its link is spelled: the DOI (case-blind) when the link names one, else
// the link itself. Two links with one identity fetch the same file.
QString ArticleIdentity(const QString& link);

// The entry of a completed download: the DOI from the link, else from the page the link was
// found on; the article's page is the journal's page for the DOI, else the link itself.
CitationEntry CitationOf(const QString& title, const QString& link, const QString& page,
                         const QString& filePath);

// The whole file in UTF-8, one entry per element in order.
QByteArray CitationFileText(const QList<CitationEntry>& entries, CitationFormat format);
