#include "core/search/TodaySite.h"

#include "core/app/WebAddress.h"
#include "core/download/Naming.h"
#include "core/search/RecordMetadata.h"

#include <QSet>
#include <QUrl>

#include <limits>

namespace {

// The nearest copied ancestor of the element at `index` that carries `token`; -1 if none.
int AncestorWithToken(const Dom& document, int index, const QString& token) {
    for (int p = document.at(index).parent; p >= 0; p = document.at(p).parent) {
        if (HasClassToken(document.at(p), token))
            return p;
    }
    return -1;
}

// True when the element at `index` or anything around it marks a recommendation.
bool IsRecommendation(const Dom& document, int index) {
    const TodayMarkup& m = Markup();
    for (int p = index; p >= 0; p = document.at(p).parent) {
        const DomElement& e = document.at(p);
        if (e.tagName == m.recommendationTag || HasClassToken(e, m.relatedCardToken))
            return true;
        for (const QString& token : m.recommendationTokens) {
            if (HasClassToken(e, token))
                return true;
        }
    }
    return false;
}

// The item card a title element belongs to, -1 when it belongs to none.
int ItemCardOf(const Dom& document, int title, PageKind kind) {
    const TodayMarkup& m = Markup();
    const int card = AncestorWithToken(document, title, m.cardToken);
    if (card < 0 || IsRecommendation(document, title))
        return -1;
    if (kind == PageKind::TodayIssue && AncestorWithToken(document, card, m.issueSectionToken) < 0)
        return -1;
    return card;
}

bool IsToday(PageKind kind) {
    return kind == PageKind::TodaySearch || kind == PageKind::TodayIssue;
}

// The query of an address: from after its first "?" to its "#" (or its end); `start` is -1
// when there is no "?" before the fragment.
struct QueryRange {
    qsizetype start = -1;
    qsizetype end = 0;
};

QueryRange QueryOf(const QString& address) {
    const qsizetype fragment = address.indexOf(QLatin1Char('#'));
    const qsizetype end = fragment < 0 ? address.size() : fragment;
    const qsizetype mark = address.left(end).indexOf(QLatin1Char('?'));
    return {mark < 0 ? -1 : mark + 1, end};
}

// The value of the first query item named `key` (letter case ignored); nullopt when absent.
std::optional<QStringView> QueryValue(const QString& address, const QString& key) {
    const QueryRange range = QueryOf(address);
    if (range.start < 0)
        return std::nullopt;
    const QStringView query = QStringView(address).mid(range.start, range.end - range.start);
    for (const QStringView item : query.split(QLatin1Char('&'))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QStringView name = equals < 0 ? item : item.left(equals);
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return equals < 0 ? QStringView() : item.mid(equals + 1);
    }
    return std::nullopt;
}

// A whole number of ASCII digits that fits an int; nullopt otherwise.
std::optional<int> WholeNumber(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return int(value);
}

bool IsDigitSeparator(QChar c) {
    // Thousands are grouped with commas, dots, apostrophes or spaces of several widths.
    return c == QLatin1Char(',') || c == QLatin1Char('.') || c == QLatin1Char('\'') ||
           c == QChar(0x2019) || c.isSpace();
}

// "<scheme>://<host>[:<port>]" of an address, "" when it has no host. Any user name and
// password in it stay out: they are no part of where the file is.
QString OriginOf(const QString& address) {
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return QString();
    return url
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

} // namespace

QList<int> TodayItemCards(const Dom& document, PageKind kind) {
    QList<int> cards;
    if (!IsToday(kind))
        return cards;
    QSet<int> seen;
    for (int i = 0; i < document.size(); ++i) {
        if (!HasClassToken(document.at(i), Markup().titleToken))
            continue;
        const int card = ItemCardOf(document, i, kind);
        if (card >= 0 && !seen.contains(card)) {
            seen.insert(card);
            cards.append(card);
        }
    }
    return cards;
}

std::optional<QString> DoiOfLink(const QString& href) {
    const QRegularExpressionMatch match = Markup().doiInLink.match(href);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

bool IsTrapDoi(const QString& doi) {
    const QString suffix = QUrl::fromPercentEncoding(doi.section(QLatin1Char('/'), 1).toUtf8());
    return Markup().trapDoiSuffix.match(suffix).hasMatch();
}

QString TodayPdfLink(const QString& pageAddress, const QString& doi) {
    const QString origin = OriginOf(pageAddress);
    if (origin.isEmpty())
        return QString();
    // A proxy that serves the site under a path of its own ("/https/<site>/toc/...") serves
    // the PDF under the same path.
    const TodayMarkup& m = Markup();
    const QString path = QUrl(pageAddress).path(QUrl::FullyEncoded);
    QString prefix;
    if (path.endsWith(m.searchPath, Qt::CaseInsensitive))
        prefix = path.left(path.size() - m.searchPath.size());
    else if (const qsizetype issue = path.indexOf(m.issuePath, 0, Qt::CaseInsensitive); issue >= 0)
        prefix = path.left(issue);
    return origin + prefix + m.pdfPath + doi + QLatin1Char('?') + m.pdfQuery;
}

int ExtractTodayRecords(
    const Dom& document, PageKind kind,
    const std::function<void(const QString& title, const QString& link, const QString& page)>& add,
    const std::function<void(const QString& link)>& refused,
    const std::function<void(const QString& link, const ArticleMetadata& shown)>& described) {
    static const QString anchor = QStringLiteral("A");
    const TodayMarkup& m = Markup();
    const QList<int> cards = TodayItemCards(document, kind);
    if (cards.isEmpty() || OriginOf(document.URL).isEmpty())
        return 0;
    QSet<QString> added; // DOIs are case-blind
    int calls = 0;
    for (const int card : cards) {
        for (int title = card + 1; title < document.at(card).end; ++title) {
            if (!HasClassToken(document.at(title), m.titleToken) ||
                ItemCardOf(document, title, kind) != card)
                continue;
            for (int a = title + 1; a < document.at(title).end; ++a) {
                const DomElement& link = document.at(a);
                if (link.tagName != anchor || !link.visible)
                    continue;
                const std::optional<QString> doi = DoiOfLink(link.href);
                const QString text = link.innerText.simplified();
                if (!doi || IsTrapDoi(*doi) || text.isEmpty())
                    continue;
                // The record's link is built on the page's host, but an anchor that is itself
                // a script or a local file is no article's link.
                const QString pdf = TodayPdfLink(document.URL, *doi);
                const QString refusedLink = !IsWebAddress(link.href) ? link.href
                                            : !IsWebAddress(pdf)     ? pdf
                                                                     : QString();
                if (!refusedLink.isEmpty()) {
                    if (refused)
                        refused(refusedLink);
                    break;
                }
                const QString key = QUrl::fromPercentEncoding(doi->toUtf8()).toLower();
                if (!added.contains(key)) {
                    added.insert(key);
                    add(text, pdf, document.URL);
                    if (described)
                        described(pdf, TodayCardMetadata(document, card, kind));
                    ++calls;
                }
                break; // one article per title
            }
        }
    }
    return calls;
}

int StartPageOf(const QString& address) {
    const std::optional<QStringView> value = QueryValue(address, Markup().startPageKey);
    return value ? WholeNumber(*value).value_or(0) : 0;
}

int PageSizeOf(const QString& address) {
    const std::optional<QStringView> value = QueryValue(address, Markup().pageSizeKey);
    const int size = value ? WholeNumber(*value).value_or(0) : 0;
    return size > 0 ? size : Markup().defaultPageSize;
}

QString NextTodaySearchAddress(const QString& address) {
    const QString& key = Markup().startPageKey;
    const QString item = key + QLatin1Char('=') + QString::number(qint64(StartPageOf(address)) + 1);
    const QueryRange range = QueryOf(address);
    if (range.start < 0)
        return address.left(range.end) + QLatin1Char('?') + item + address.mid(range.end);

    // Every other item is copied as it stands, escapes and order included.
    QStringList items;
    bool stepped = false;
    const QStringView query = QStringView(address).mid(range.start, range.end - range.start);
    for (const QStringView part : query.split(QLatin1Char('&'))) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        const QStringView name = equals < 0 ? part : part.left(equals);
        if (name.compare(key, Qt::CaseInsensitive) == 0) {
            if (!stepped) // a repeated key would leave the server two pages to choose from
                items.append(item);
            stepped = true;
        } else {
            items.append(part.toString());
        }
    }
    if (!stepped) {
        if (!items.isEmpty() && items.last().isEmpty())
            items.removeLast(); // "...?a=1&" or "...?": the new item takes the empty place
        items.append(item);
    }
    return address.left(range.start) + items.join(QLatin1Char('&')) + address.mid(range.end);
}

std::optional<qint64> TodayHitCount(const Dom& document) {
    const TodayMarkup& m = Markup();
    for (int i = 0; i < document.size(); ++i) {
        const DomElement& e = document.at(i);
        if (e.tagName != m.hitCountTag || !HasClassToken(e, m.hitCountToken))
            continue;
        const QString& text = e.innerText;
        qsizetype at = 0;
        while (at < text.size() && !text.at(at).isDigit())
            ++at;
        qint64 hits = 0;
        bool any = false;
        for (; at < text.size(); ++at) {
            const QChar c = text.at(at);
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
                if (hits > (std::numeric_limits<qint64>::max() - 9) / 10)
                    return std::nullopt;
                hits = hits * 10 + (c.unicode() - '0');
                any = true;
            } else if (!IsDigitSeparator(c)) {
                break;
            }
        }
        return any ? std::optional<qint64>(hits) : std::nullopt;
    }
    return std::nullopt;
}

bool IsLastTodaySearchPage(const Dom& document) {
    const TodayMarkup& m = Markup();
    if (TodayItemCards(document, PageKind::TodaySearch).isEmpty())
        return true;
    const std::optional<qint64> hits = TodayHitCount(document);
    if (hits && (qint64(StartPageOf(document.URL)) + 1) * PageSizeOf(document.URL) >= *hits)
        return true;
    // Pagers may stand above and below the list: one arrow that leads on is enough.
    for (int i = 0; i < document.size(); ++i) {
        if (!HasClassToken(document.at(i), m.nextArrowToken))
            continue;
        bool disabled = false;
        for (int d = i; d < document.at(i).end && !disabled; ++d)
            disabled = HasClassToken(document.at(d), m.disabledToken);
        if (!disabled)
            return false;
    }
    return true;
}

QString RecordFileNameFromLink(const QString& link) {
    static const QRegularExpression pdfPath(QStringLiteral(R"(/doi/pdf/10\.\d{4,9}/(.+)$)"));
    const QUrl url(link);
    if (url.query(QUrl::FullyEncoded) == Markup().pdfQuery) {
        const QRegularExpressionMatch match = pdfPath.match(url.path(QUrl::FullyEncoded));
        if (match.hasMatch())
            return QUrl::fromPercentEncoding(match.captured(1).toUtf8()).trimmed();
    }
    return FileNameFromLink(link, true);
}
