#include "core/search/PageKinds.h"

#include "core/search/ResultPages.h"
#include "core/search/TodaySite.h"

#include <QUrl>

namespace {

bool IsClassBlank(QChar c) {
    // The blanks that separate class tokens in HTML.
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

bool HasChallengeTitle(const QString& title) {
    const QString shown = title.trimmed();
    for (const QString& known : Markup().challengeTitles) {
        if (shown.startsWith(known, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool IsChallengeFrame(const QString& src) {
    const QString host = QUrl(src).host();
    const QString& challengeHost = Markup().challengeFrameHost;
    return host.compare(challengeHost, Qt::CaseInsensitive) == 0 ||
           host.endsWith(QLatin1Char('.') + challengeHost, Qt::CaseInsensitive);
}

// The signs that stand only on the bot check itself.
bool HasChallengeStructure(const Dom& document) {
    const TodayMarkup& m = Markup();
    if (HasChallengeTitle(document.title) ||
        document.scriptMarksFound.contains(m.challengeScriptMark))
        return true;
    for (int i = 0; i < document.size(); ++i) {
        const DomElement& e = document.at(i);
        if (e.tagName == QLatin1String("FORM") && e.id == m.challengeFormId)
            return true;
        if ((e.tagName == QLatin1String("IFRAME") || e.tagName == QLatin1String("FRAME")) &&
            IsChallengeFrame(e.src))
            return true;
    }
    return false;
}

bool HasFormerEntries(const Dom& document) {
    // The same test ExtractResultRecords makes of its entries.
    for (int i = 0; i < document.size(); ++i) {
        const DomElement& e = document.at(i);
        if (e.tagName == QLatin1String("LI") &&
            e.className.toLower() == QLatin1String("results-cit cit"))
            return true;
    }
    return false;
}

bool HasElementWithToken(const Dom& document, const QString& token) {
    for (int i = 0; i < document.size(); ++i) {
        if (HasClassToken(document.at(i), token))
            return true;
    }
    return false;
}

} // namespace

const TodayMarkup& Markup() {
    static const TodayMarkup markup;
    return markup;
}

DomQuery ResultPageQuery() {
    const TodayMarkup& m = Markup();
    DomQuery query;
    query.tags = ResultPageTags();
    query.tags << m.recommendationTag << QStringLiteral("FORM") << QStringLiteral("IFRAME")
               << m.dateTag;
    query.textTags = ResultPageTextTags() << m.dateTag;
    query.sourceTextTokens = QStringList{m.authorToken, m.kindToken, m.metaItemToken};
    query.classTokens = QStringList{m.cardToken,        m.titleToken,    m.issueSectionToken,
                                    m.relatedCardToken, m.hitCountToken, m.nextArrowToken}
                        << m.recommendationTokens << query.sourceTextTokens;
    query.visibilityTags = QStringList{QStringLiteral("A")};
    query.scriptMarks = QStringList{m.challengeScriptMark};
    query.textMarks = m.challengeTexts;
    return query;
}

bool HasClassToken(const DomElement& element, const QString& token) {
    const QString& cls = element.className;
    if (token.isEmpty())
        return false;
    for (qsizetype at = cls.indexOf(token); at >= 0; at = cls.indexOf(token, at + 1)) {
        const qsizetype end = at + token.size();
        if ((at == 0 || IsClassBlank(cls.at(at - 1))) &&
            (end == cls.size() || IsClassBlank(cls.at(end))))
            return true;
    }
    return false;
}

PageKind RecognisePage(const Dom& document) {
    if (HasChallengeStructure(document))
        return PageKind::Challenge;
    if (HasFormerEntries(document))
        return PageKind::FormerResults;

    const TodayMarkup& m = Markup();
    const QString path = QUrl(document.URL).path();
    PageKind kind = PageKind::Other;
    if (path.endsWith(m.searchPath, Qt::CaseInsensitive))
        kind = PageKind::TodaySearch;
    else if (path.contains(m.issuePath, Qt::CaseInsensitive))
        kind = PageKind::TodayIssue;
    else if (!TodayItemCards(document, PageKind::TodayIssue).isEmpty())
        kind = PageKind::TodayIssue; // the same markup under an address of another shape
    else if (HasElementWithToken(document, m.hitCountToken) ||
             !TodayItemCards(document, PageKind::TodaySearch).isEmpty())
        kind = PageKind::TodaySearch;

    // The check's wording on a page without a single item: the check, whatever the address.
    if (!document.textMarksFound.isEmpty() &&
        (kind == PageKind::Other || TodayItemCards(document, kind).isEmpty()))
        return PageKind::Challenge;
    return kind;
}
