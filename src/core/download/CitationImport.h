#pragma once

#include "core/download/Citations.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Reading a reference manager's file (RIS, BibTeX, CSL-JSON) or a plain list of DOIs back into
// articles. Each reader takes the whole file; an entry it cannot use is reported by the line it
// starts on, never dropped without a word.

struct ImportedCitation {
    int line = 0;             // the line the entry starts on, from 1
    ArticleMetadata metadata; // the DOI in metadata.doi ("" when the entry names none)
    QString link;             // a web address the entry names for the article, "" when none
};

struct CitationFileContents {
    QList<ImportedCitation> entries; // the ones with a DOI or a web address, in file order
    QList<int> unusableLines;        // the entries with neither, by their first line
    QString error;                   // why the file as a whole could not be read ("" when it was)
};

CitationFileContents ParseRis(const QString& text);
CitationFileContents ParseBibTeX(const QString& text);
CitationFileContents ParseCslJson(const QByteArray& bytes);
// One DOI (bare, "doi:…" or as a doi.org address) or one web address per line; blank lines
// and lines starting with "#" are no entries.
CitationFileContents ParseDoiList(const QString& text);

// The reader the file's extension names (".ris", ".bib", ".json"), else the one its first
// characters point to ("TY  -", "@", "[" or "{"), else the DOI list. The bytes are UTF-8 (a
// byte-order mark is skipped), or GB18030 when they are no valid UTF-8, as this program's own
// text exports are.
CitationFileContents ParseCitationFile(const QString& path, const QByteArray& bytes);

// The DOI inside a text ("doi:10.1126/x", "https://doi.org/10.1126/x", "10.1126/x."), without
// trailing punctuation; "" when there is none.
QString DoiInText(const QString& text);
