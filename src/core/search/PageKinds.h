#pragma once

#include "core/platform/Dom.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The journal's pages come in two generations: the former site's result lists (read by the
// rules in ResultPages.h) and today's site, whose search and issue pages are read by the rules
// in TodaySite.h. Which rules apply is decided once per copy of the shown page, here, and
// carried as a value.
enum class PageKind {
    FormerResults, // a result list of the former site ("results-cit cit" entries)
    TodaySearch,   // today's search results, paged through startPage
    TodayIssue,    // today's table of contents of an issue: one page
    Challenge,     // the bot check standing in front of the site: no results, never touched
    Other,         // anything else; read by the former site's rules, which find nothing in it
};

// Everything the program relies on in the markup and addresses of today's site, in one place.
// Elements are matched by single class tokens, never by whole class strings or their order:
// the site adds and reorders tokens at will.
struct TodayMarkup {
    // Addresses: search results are "/action/doSearch?..." (the page number in startPage,
    // counted from 0, and the page length in pageSize); issues are "/toc/<journal>/...".
    QString searchPath = QStringLiteral("/action/doSearch");
    QString issuePath = QStringLiteral("/toc/");
    QString startPageKey = QStringLiteral("startPage");
    QString pageSizeKey = QStringLiteral("pageSize");
    int defaultPageSize = 20;

    // An item is a card holding a title element whose link leads to the article.
    QString cardToken = QStringLiteral("card");
    QString titleToken = QStringLiteral("article-title");
    // On issue pages only the cards inside the sections of the table of contents are items.
    QString issueSectionToken = QStringLiteral("toc__section");
    // Cards inside these (or carrying the card token below) recommend other articles.
    QString recommendationTag = QStringLiteral("ASIDE");
    QStringList recommendationTokens{QStringLiteral("related-content"),
                                     QStringLiteral("show-recommended")};
    QString relatedCardToken = QStringLiteral("card-related");

    // What a card shows of the article besides its title: the authors, its kind (the line
    // over the title), the journal, date, volume, issue and pages among the card's meta
    // items, and the date in a TIME element. An issue page's address names the journal, the
    // volume and the issue of all its cards ("/toc/science/390/6771").
    QString authorToken = QStringLiteral("hlFld-ContribAuthor");
    QString kindToken = QStringLiteral("overline");
    QString metaItemToken = QStringLiteral("card-meta__item");
    QString dateTag = QStringLiteral("TIME");
    QRegularExpression issueAddress{QStringLiteral(R"(/toc/([A-Za-z]+)/(\d+)/(\d+)(?:[/?#]|$))")};

    // The number of hits, and the pager's arrow to the next page.
    QString hitCountTag = QStringLiteral("SPAN");
    QString hitCountToken = QStringLiteral("search-result__meta__item--count");
    QString nextArrowToken = QStringLiteral("page-item__arrow--next");
    QString disabledToken = QStringLiteral("disabled");

    // The article's DOI in the links of its card; and the PDF itself, on the page's own host.
    QRegularExpression doiInLink{
        QStringLiteral(R"(/doi/(?:abs/|full/|epdf/|pdf/|reader/)?(10\.\d{4,9}/[^?#\s]+))")};
    QString pdfPath = QStringLiteral("/doi/pdf/");
    QString pdfQuery = QStringLiteral("download=true");
    // DOIs planted to catch crawlers: a suffix made of nothing but 9s, dots and dashes.
    QRegularExpression trapDoiSuffix{QStringLiteral(R"(^[9.\-]+$)")};

    // The bot check. Its title, its form, the options its script sets up and the frame it
    // loads each give it away; its wording only counts on a page that lists no items, since an
    // article may well be titled with it. A "/cdn-cgi/" script alone stays on pages that
    // passed and is no sign.
    QStringList challengeTitles{QStringLiteral("Just a moment"),
                                QStringLiteral("Attention Required"), QStringLiteral("请稍候")};
    QString challengeFormId = QStringLiteral("challenge-form");
    QString challengeScriptMark = QStringLiteral("_cf_chl_opt");
    QString challengeFrameHost = QStringLiteral("challenges.cloudflare.com");
    QStringList challengeTexts{QStringLiteral("Checking if the site connection is secure"),
                               QStringLiteral("Enable JavaScript and cookies to continue"),
                               QStringLiteral("Verifying you are human")};
};

const TodayMarkup& Markup();

// What a copy of the shown page must hold for the page kinds and for both generations'
// extraction and paging: the former rules' tags, and the elements, classes, visibility and
// marks that today's rules read.
DomQuery ResultPageQuery();

// True when the element's class list holds `token` (class lists are split at any blank).
bool HasClassToken(const DomElement& element, const QString& token);

PageKind RecognisePage(const Dom& document);
