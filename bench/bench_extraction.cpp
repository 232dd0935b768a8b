// How long reading the result entries of a page takes: a 500-entry page (minimum and median of
// 50 runs), the same with what each entry shows of its article (authors, date, volume, ...),
// and 20 such pages one after another. The pages are built by hand in the shape the
// journal's pages have (entry, spans, a list of view links). Prints figures; asserts nothing.
// Run: ./bench_extraction [entries per page]
#include "core/search/ResultPages.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

int add(Dom& dom, int parent, const char* tag, const QString& className = {},
        const QString& text = {}, const QString& href = {}) {
    DomElement element;
    element.tagName = QString::fromLatin1(tag);
    element.className = className;
    element.innerText = text;
    element.href = href;
    return dom.append(parent, element);
}

Dom makePage(int firstIndex, int entries) {
    Dom dom;
    dom.URL = QStringLiteral("https://www.science.org/search?site_area=sci&journalcode=sci&"
                             "FIRSTINDEX=%1")
                  .arg(firstIndex);
    const int nav = add(dom, -1, "UL", "nav");
    for (int i = 0; i < 20; ++i)
        add(dom, add(dom, nav, "LI"), "A", {}, QStringLiteral("Menu %1").arg(i), "/menu");
    const int list = add(dom, -1, "UL", "results");
    for (int i = 0; i < entries; ++i) {
        const int n = firstIndex + i + 1;
        const QString link = QStringLiteral("https://www.science.org/content/pdf/sci.%1").arg(n);
        const int li = add(dom, list, "LI", "results-cit cit");
        const int meta = add(dom, li, "DIV", "cit-metadata");
        add(dom, meta, "SPAN", "cit-section", "Research Article");
        add(dom, meta, "SPAN", n % 3 ? "cit-title" : "cit-first-element cit-title",
            QStringLiteral("Quantum coherence in photosynthetic complexes of species %1").arg(n));
        add(dom, meta, "SPAN", "cit-auth-list", "A. Author, B. Author, C. Author, D. Author");
        add(dom, meta, "SPAN", "cit-print-date", "Science 12 May 2023: Vol. 380, Issue 6646");
        const int views = add(dom, li, "UL", "cit-views");
        add(dom, add(dom, views, "LI"), "A", {}, "Abstract", link + ".abstract");
        add(dom, add(dom, views, "LI"), "A", {}, "Full Text", link + ".full");
        add(dom, add(dom, views, "LI"), "A", {}, "\n  Full Text\n  (PDF)\n",
            link + ".pdf?download=true&amp;sid=1");
    }
    const int pager = add(dom, -1, "DIV", "pager");
    for (int i = 0; i < 10; ++i)
        add(dom, pager, "A", {}, QString::number(i + 1),
            QStringLiteral("https://www.science.org/search?site_area=sci&journalcode=sci&"
                           "FIRSTINDEX=%1")
                .arg(i * 10));
    return dom;
}

int extract(const Dom& dom, bool described = false) {
    qsizetype characters = 0; // keep the records' text alive as a real caller would
    const auto keep = [&](const QString&, const ArticleMetadata& shown) {
        characters += shown.authors.size() + shown.date.size() + shown.volume.size();
    };
    const int calls = ExtractResultRecords(
        dom,
        [&](const QString& title, const QString& link, const QString& page) {
            characters += title.size() + link.size() + page.size();
        },
        {},
        described ? std::function<void(const QString&, const ArticleMetadata&)>(keep) : nullptr);
    return characters > 0 ? calls : -1;
}

void measure(const Dom& page, bool described) {
    std::vector<double> runs;
    for (int run = 0; run < 50; ++run) {
        QElapsedTimer timer;
        timer.start();
        extract(page, described);
        runs.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("  %s min %8.3f ms   median %8.3f ms   (50 runs)\n",
                described ? "with metadata" : "extraction   ", runs.front(), runs[runs.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;

    const Dom page = makePage(0, entries);
    std::printf("one page: %d entries, %d elements, %d records\n", entries, page.size(),
                extract(page));
    measure(page, false);
    measure(page, true);

    std::vector<Dom> pages;
    for (int p = 0; p < 20; ++p)
        pages.push_back(makePage(p * entries, entries));
    QElapsedTimer timer;
    timer.start();
    long total = 0;
    bool last = false;
    for (const Dom& dom : pages) {
        total += extract(dom);
        last = IsLastResultPage(dom, FirstIndexOf(dom.URL));
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("20 pages: %ld records in %.3f ms (%.3f ms per page, with the last-page test; "
                "last page seen as last: %s)\n",
                total, ms, ms / 20, last ? "yes" : "no");
    return 0;
}
