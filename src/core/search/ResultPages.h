#pragma once

#include "core/download/Citations.h"
#include "core/platform/Dom.h"

#include <QString>

#include <functional>
#include <optional>

// Reading the journal's result pages: which list entries are articles, their titles and
// full-text links, and how to step from one page of results to the next through the address's
// FIRSTINDEX value. Everything here works on a Dom copy of the page, so it runs without a
// browser.

// The tags (and the tags whose rendered text is needed) that a Dom copy must hold for
// ExtractResultRecords and IsLastResultPage.
QStringList ResultPageTags();
QStringList ResultPageTextTags();

// Calls `add` once for every result entry of the page that has both a title and a full-text
// link, in document order, and returns the number of calls.
//
// A result entry is an LI whose lower-cased class is exactly "results-cit cit". Its title is
// the rendered text (trimmed of spaces) of the first SPAN inside whose lower-cased, trimmed
// class is "cit-title" or "cit-first-element cit-title"; later spans are not looked at, so an
// empty first title span means the entry has no title. Its link is the href (trimmed) of the
// first A inside whose rendered text reads "full text (pdf)" once letter case and all blanks
// are ignored. Blanks here are every white-space character, not only the space: the browser
// renders "&nbsp;" as U+00A0 and a line break inside the anchor as "\n", and "Full<br>Text
// (PDF)" is still the PDF link to a reader. "&amp;" in the link (any letter case) becomes "&".
// `page` is the document's address. A link that is no web address (IsWebAddress: a
// "javascript:", "file:" or "data:" link, say) adds nothing; `refused` hears of it instead.
// After each call of `add`, `described` hears what the entry shows of that article
// (FormerEntryMetadata).
int ExtractResultRecords(
    const Dom& document,
    const std::function<void(const QString& title, const QString& link, const QString& page)>& add,
    const std::function<void(const QString& link)>& refused = {},
    const std::function<void(const QString& link, const ArticleMetadata& shown)>& described = {});

// Every "&amp;" (any letter case) replaced by "&", in one pass.
QString DecodeAmpersands(const QString& text);

// The FIRSTINDEX value of an address: the text after the first "FIRSTINDEX=" (any letter
// case), up to the first "&" or "#" (a fragment is not part of the query). It counts only
// when it is one or more ASCII digits and fits an int; anything else ("10abc", "+10", " 10",
// "-5", "1e1", "", a value too large for an int) gives 0, as does an address without the key.
// Leading zeros are allowed ("010" is 10).
int FirstIndexOf(const QString& address);

// True when the page whose FIRSTINDEX is `current` is the last page of its result list: no
// link on the page leads to a page at or beyond it. The first page (`current` 0) is never the
// last. Page links are the anchors whose href contains "&FIRSTINDEX=", "search?", "site_area"
// and "journalcode" (any letter case, any order); the page is the last when the largest
// FIRSTINDEX among them is 0 (no page links) or smaller than `current`.
bool IsLastResultPage(const Dom& document, int current);

// The address of the page after the one at `url` whose FIRSTINDEX is `current` (as
// FirstIndexOf(url) gave it). Escaped ampersands are left as they are: the caller decodes the
// address once (DecodeAmpersands) when it navigates, so "&amp;amp;" ends as "&amp;".
//
// Every "FIRSTINDEX=" (any letter case, which is kept) followed by a run of digits whose value
// is `current` gets the value current + 10. The run is taken whole, so with `current` 10 a
// "FIRSTINDEX=100" elsewhere in the address stays as it is, and "FIRSTINDEX=010" is stepped
// like "FIRSTINDEX=10" (FirstIndexOf reads both as 10). When `current` is 0 and the address
// carries no "FIRSTINDEX=0", "&FIRSTINDEX=10" is appended to its query: before a "#fragment"
// if it has one, and as "?FIRSTINDEX=10" if it has no query at all. A `current` other than 0
// that the address does not carry changes nothing.
QString NextPageAddress(const QString& url, int current);

// The page time-out in seconds from the text of the time-out box, converted as the program
// converts stored integers (ParseSettingInteger: surrounding blanks ignored, a fraction
// rounded half to even). nullopt when the text is not a number; the caller then ends its run.
std::optional<int> ParseTimeoutSeconds(const QString& comboText);
