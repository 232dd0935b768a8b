#pragma once

#include "core/download/Citations.h"
#include "core/platform/Dom.h"
#include "core/search/PageKinds.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Reading the search and issue pages of the journal's site as it is today (see TodayMarkup
// for what is relied on): which cards are articles, their titles and PDF links, and how a
// search steps from one page of results to the next. Works on a Dom copy of the page (made
// with ResultPageQuery()), so it runs without a browser.

// The item cards of the page, as indices into the Dom, in document order: every card that
// holds a title element, except recommendations (cards inside an ASIDE or inside or marked
// with one of the recommendation tokens). On an issue page only cards inside its sections
// count. Empty for a kind other than TodaySearch or TodayIssue.
QList<int> TodayItemCards(const Dom& document, PageKind kind);

// The DOI in an article link ("10.1126/science.abc1234"), as the link spells it; nullopt
// when the link leads to no DOI.
std::optional<QString> DoiOfLink(const QString& href);

// True for a DOI whose suffix is made only of 9s, dots and dashes: such DOIs are planted
// to catch crawlers, and fetching them has had whole institutions shut out.
bool IsTrapDoi(const QString& doi);

// The PDF of the article with that DOI on the host that serves `pageAddress`: "<scheme>://
// <host>[:<port>]/doi/pdf/<doi>?download=true". The page's host is kept, so readers behind
// an institution's proxy stay on the proxy's host; so is a path the proxy puts in front of
// the site's own ("/https/<site>" before "/action/doSearch" or "/toc/"). "" when the address
// has no host.
QString TodayPdfLink(const QString& pageAddress, const QString& doi);

// Calls `add` once for every article of today's search or issue page, in document order,
// and returns the number of calls. An article is the first shown DOI link inside a title
// element of an item card; its title is the link's rendered text with every run of blanks
// made one space and trimmed; its link is TodayPdfLink; `page` is the document's address.
// Hidden links, trap DOIs, links without text and DOIs already added from the page (letter
// case ignored) add nothing. A PDF link that is no web address (a page shown from another
// scheme) adds nothing either; `refused` hears of it instead.
int ExtractTodayRecords(
    const Dom& document, PageKind kind,
    const std::function<void(const QString& title, const QString& link, const QString& page)>& add,
    const std::function<void(const QString& link)>& refused = {},
    const std::function<void(const QString& link, const ArticleMetadata& shown)>& described = {});

// The page number (startPage, from 0) and the page length (pageSize) of a search address.
// A missing key or a value that is not a whole number gives 0 and the site's default
// length (Markup().defaultPageSize).
int StartPageOf(const QString& address);
int PageSizeOf(const QString& address);

// The search address of the page after the one at `address`: startPage set to its value + 1
// (added as startPage=1 when missing), every other part of the address as it was.
QString NextTodaySearchAddress(const QString& address);

// The number of hits the search page announces: the digits of its hit-count element, with
// thousands separators of any kind left out. nullopt when the page has none.
std::optional<qint64> TodayHitCount(const Dom& document);

// True when the search page is its list's last: its page and the ones before it cover the
// announced hits ((startPage + 1) x pageSize >= hits), its pager has no next arrow or a
// disabled one, or it holds no item cards.
bool IsLastTodaySearchPage(const Dom& document);

// The name the option "原文件名" gives the file of a record with this link. The PDF links of
// today's site are named after the DOI suffix ("science.abc1234"), since the name in the link
// ("science.abc1234?download=true" cut at its last dot) would be "science" for every article
// of the journal; every other link gets FileNameFromLink(link, true).
QString RecordFileNameFromLink(const QString& link);
