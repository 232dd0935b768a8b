// The reading of a shown page: the copy the browser hands over (JSON from the snapshot script,
// written by whatever page was shown) becomes a Dom, then the page kind is decided and both
// generations' rules run over it, whatever the kind.

#include "FuzzSupport.h"

#include "core/platform/Dom.h"
#include "core/search/PageKinds.h"
#include "core/search/ResultPages.h"
#include "core/search/TodaySite.h"

namespace {

void CheckRecord(const QString& title, const QString& link, const QString& page,
                 const Dom& document) {
    QF_FUZZ_CHECK(!title.isEmpty());
    QF_FUZZ_CHECK(!link.isEmpty());
    QF_FUZZ_CHECK(page == document.URL);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<Dom> document = Dom::fromJson(InputBytes(data, size));
    if (!document)
        return 0;
    const Dom& dom = *document;
    for (int i = 0; i < dom.size(); ++i) {
        const DomElement& e = dom.at(i);
        QF_FUZZ_CHECK(e.parent < i && e.end > i && e.end <= dom.size());
        const DomCollection inside = dom.getElementsByTagName(i, e.tagName);
        for (int k = 0; k < inside.length(); ++k)
            QF_FUZZ_CHECK(inside.indexOf(k) > i && inside.indexOf(k) < e.end);
    }
    dom.getElementById(dom.at(0).id);

    const PageKind kind = RecognisePage(dom);
    auto check = [&dom](const QString& title, const QString& link, const QString& page) {
        CheckRecord(title, link, page, dom);
    };
    // What a card shows is kept as it was shown, but its date only in the one form exports read.
    auto described = [](const QString& link, const ArticleMetadata& shown) {
        QF_FUZZ_CHECK(!link.isEmpty());
        QF_FUZZ_CHECK(shown.date.isEmpty() || IsoDateOf(shown.date) == shown.date);
    };
    ExtractResultRecords(dom, check, {}, described);
    const int current = FirstIndexOf(dom.URL);
    IsLastResultPage(dom, current);
    NextPageAddress(dom.URL, current);

    for (const PageKind today : {kind, PageKind::TodaySearch, PageKind::TodayIssue}) {
        for (const int card : TodayItemCards(dom, today))
            QF_FUZZ_CHECK(card >= 0 && card < dom.size());
        ExtractTodayRecords(dom, today, check, {}, described);
    }
    TodayHitCount(dom);
    IsLastTodaySearchPage(dom);
    return 0;
}
