#pragma once

#include "core/download/CitationImport.h"
#include "core/download/Citations.h"
#include "core/download/DownloadSession.h"
#include "core/platform/Dom.h"
#include "core/search/PageKinds.h"

#include <QString>

class KeyedListModel;

// What a result page shows of an article besides its title and link, read from the same Dom
// copy as the records. Nothing is guessed: a field the card or entry does not show stays
// empty (the export fills the journal from the DOI later).

// Today's item card at `card` (an index from TodayItemCards) of a page of `kind`: authors in
// the card's order (the hidden ones of a shortened list included), the kind over the title,
// the journal, date, volume, issue and pages among the card's meta items and TIME element;
// on an issue page the journal code, volume and issue of its address where the card names
// none.
ArticleMetadata TodayCardMetadata(const Dom& document, int card, PageKind kind);

// The former site's result entry at `entry` (a "results-cit cit" LI): its author spans (or the
// author list split at its commas), its section as the kind, and its citation line ("Science
// 5 May 2023: Vol. 380, Issue 6646, pp. 12-15") and the separate spans for volume, issue,
// pages and DOI where it has them.
ArticleMetadata FormerEntryMetadata(const Dom& document, int entry);

// Fills the empty fields of `metadata` from a citation line as pages write it: a journal name
// it starts with, the date before its ":", "Vol. 380" / "Volume 380", "Issue 6646" / "No.
// 6646", "pp. 12-15" / "p. 12", or an article number ("eadg1234").
void ReadCitationLine(const QString& line, ArticleMetadata& metadata);

// The record's metadata, kept in a value no column shows.
namespace SearchHidden {
inline constexpr int Citation = 0;
}
ArticleMetadata RecordMetadata(const KeyedListModel& list, int position);
void SetRecordMetadata(KeyedListModel& list, int position, const ArticleMetadata& metadata);

// The file name a record is handed over with: the link's name under the option "原文件名"
// (RecordFileNameFromLink), else the title on one line; cleaned for the file system; the link's
// own name when that cleans away, and "未命名" when even that is empty.
QString RecordFileName(const QString& link, const QString& title, bool useLinkFileName);

// The link an imported entry is queued with: for a DOI of the journal's site its PDF on the
// site (the key today's records of that article get), for another DOI its "https://doi.org/"
// address, else the entry's own web address. "" for a DOI planted to catch crawlers.
QString ImportedArticleLink(const ImportedCitation& entry);

// The name an imported entry's file gets: RecordFileName from its title, or from its DOI
// when it has no title.
// The file's entries as rows to add: each with its link and name, by the rules above.
QList<ImportedRow> ImportedRows(const CitationFileContents& contents, bool useLinkFileName);

QString ImportedArticleName(const ImportedCitation& entry, const QString& link,
                            bool useLinkFileName);
