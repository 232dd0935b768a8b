#include "core/search/ResultPages.h"

#include "core/app/FileHelpers.h"
#include "core/app/SettingsStore.h"
#include "core/app/WebAddress.h"
#include "core/search/RecordMetadata.h"

#include <limits>

namespace {

const QLatin1String kFirstIndexKey("FIRSTINDEX=");

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The first descendant of the element at `entry` with that tag for which `accept` holds;
// -1 when there is none. Walks the entry's slice of the document and stops at the first
// hit, so an entry costs no more than its own elements.
int FirstDescendant(const Dom& document, int entry, const QString& tag,
                    const std::function<bool(const DomElement&)>& accept) {
    const int end = document.at(entry).end;
    for (int i = entry + 1; i < end; ++i) {
        const DomElement& element = document.at(i);
        if (element.tagName == tag && accept(element))
            return i;
    }
    return -1;
}

bool IsTitleSpan(const DomElement& span) {
    const QString cls = TrimSpaces(span.className.toLower());
    return cls == QLatin1String("cit-title") || cls == QLatin1String("cit-first-element cit-title");
}

bool IsPdfAnchor(const DomElement& anchor) {
    // Lower-cased, with every blank taken out; compared without building the whole text
    // when it cannot match.
    static const QLatin1String wanted("fulltext(pdf)");
    qsizetype matched = 0;
    for (const QChar c : anchor.innerText) {
        if (c.isSpace())
            continue;
        if (matched == wanted.size() || c.toLower() != QLatin1Char(wanted[matched]))
            return false;
        ++matched;
    }
    return matched == wanted.size();
}

// Position just after "FIRSTINDEX=" for its first occurrence at or after `from`; -1 if none.
qsizetype ValueStart(const QString& address, qsizetype from) {
    const qsizetype at = address.indexOf(kFirstIndexKey, from, Qt::CaseInsensitive);
    return at < 0 ? -1 : at + kFirstIndexKey.size();
}

// Length of the run of ASCII digits starting at `start`.
qsizetype DigitRun(const QString& text, qsizetype start) {
    qsizetype end = start;
    while (end < text.size() && IsAsciiDigit(text.at(end)))
        ++end;
    return end - start;
}

// The value of a run of ASCII digits; nullopt when it does not fit an int.
std::optional<int> DigitsValue(QStringView digits) {
    qint64 value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return int(value);
}

} // namespace

QStringList ResultPageTags() {
    return {QStringLiteral("LI"), QStringLiteral("SPAN"), QStringLiteral("A")};
}

QStringList ResultPageTextTags() {
    return {QStringLiteral("SPAN"), QStringLiteral("A")};
}

QString DecodeAmpersands(const QString& text) {
    QString result = text;
    result.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
    return result;
}

int ExtractResultRecords(
    const Dom& document,
    const std::function<void(const QString& title, const QString& link, const QString& page)>& add,
    const std::function<void(const QString& link)>& refused,
    const std::function<void(const QString& link, const ArticleMetadata& shown)>& described) {
    static const QString li = QStringLiteral("LI");
    static const QString span = QStringLiteral("SPAN");
    static const QString anchor = QStringLiteral("A");
    int calls = 0;
    for (int entry = 0; entry < document.size(); ++entry) {
        const DomElement& item = document.at(entry);
        if (item.tagName != li || item.className.toLower() != QLatin1String("results-cit cit"))
            continue;
        const int titleSpan = FirstDescendant(document, entry, span, IsTitleSpan);
        if (titleSpan < 0)
            continue;
        const QString title = TrimSpaces(document.at(titleSpan).innerText);
        if (title.isEmpty())
            continue;
        const int pdfAnchor = FirstDescendant(document, entry, anchor, IsPdfAnchor);
        if (pdfAnchor < 0)
            continue;
        const QString link = TrimSpaces(document.at(pdfAnchor).href);
        if (link.isEmpty())
            continue;
        const QString decoded = DecodeAmpersands(link);
        if (!IsWebAddress(decoded)) {
            if (refused)
                refused(decoded);
            continue;
        }
        add(title, decoded, document.URL);
        if (described)
            described(decoded, FormerEntryMetadata(document, entry));
        ++calls;
    }
    return calls;
}

int FirstIndexOf(const QString& address) {
    const qsizetype start = ValueStart(address, 0);
    if (start < 0)
        return 0;
    qsizetype end = start;
    while (end < address.size() && address.at(end) != QLatin1Char('&') &&
           address.at(end) != QLatin1Char('#'))
        ++end;
    if (end == start || DigitRun(address, start) != end - start)
        return 0;
    return DigitsValue(QStringView(address).mid(start, end - start)).value_or(0);
}

bool IsLastResultPage(const Dom& document, int current) {
    if (current == 0)
        return false;
    int highest = 0;
    const DomCollection anchors = document.getElementsByTagName(QStringLiteral("A"));
    for (int i = 0; i < anchors.length(); ++i) {
        const QString& href = anchors.item(i).href;
        if (href.contains(QLatin1String("&FIRSTINDEX="), Qt::CaseInsensitive) &&
            href.contains(QLatin1String("search?"), Qt::CaseInsensitive) &&
            href.contains(QLatin1String("site_area"), Qt::CaseInsensitive) &&
            href.contains(QLatin1String("journalcode"), Qt::CaseInsensitive))
            highest = qMax(highest, FirstIndexOf(href));
    }
    return highest == 0 || highest < current;
}

QString NextPageAddress(const QString& url, int current) {
    // Text arithmetic in 64 bits: the page after INT_MAX is still an address, even if
    // FirstIndexOf will read it as 0.
    const QString next = QString::number(qint64(current) + 10);
    QString result;
    result.reserve(url.size() + 16);
    qsizetype copied = 0;
    bool stepped = false;
    for (qsizetype start = ValueStart(url, 0); start >= 0; start = ValueStart(url, start)) {
        const qsizetype digits = DigitRun(url, start);
        const std::optional<int> value =
            digits > 0 ? DigitsValue(QStringView(url).mid(start, digits)) : std::nullopt;
        if (value == current) {
            result += QStringView(url).mid(copied, start - copied);
            result += next;
            copied = start + digits;
            stepped = true;
        }
    }
    result += QStringView(url).mid(copied);
    // The first page usually has no FIRSTINDEX at all; an explicit "FIRSTINDEX=0" was stepped
    // above, since appending a second key would leave the first one read as 0 page after page.
    if (current == 0 && !stepped) {
        // The key goes into the query: before a fragment (which the server never sees), and
        // as the query itself when the address has none.
        const qsizetype fragment = result.indexOf(QLatin1Char('#'));
        const qsizetype queryEnd = fragment < 0 ? result.size() : fragment;
        const bool hasQuery = QStringView(result).left(queryEnd).contains(QLatin1Char('?'));
        result.insert(queryEnd,
                      hasQuery ? QLatin1String("&FIRSTINDEX=10") : QLatin1String("?FIRSTINDEX=10"));
    }
    return result;
}

std::optional<int> ParseTimeoutSeconds(const QString& comboText) {
    int seconds = 0;
    if (!ParseSettingInteger(comboText, seconds))
        return std::nullopt;
    return seconds;
}
