// How long the embedded browser takes to copy a 500-entry result page, and how much of a core
// a wait for a slow page takes. Prints figures; asserts nothing.
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include "core/platform/DoEvents.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A result page as the journal's site lays it out: per entry a section, title, authors,
// citation and a list of views.
QString resultPage(int entries) {
    QString html = QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Search Results</title>"
        "</head><body><div id=\"content\"><form><ul class=\"results\">\n");
    for (int i = 0; i < entries; ++i) {
        html += QStringLiteral(
                    "<li class=\"results-cit cit\">"
                    "<span class=\"cit-first-element cit-section\">Reports</span> "
                    "<span class=\"cit-title\">Title %1: a study of things</span> "
                    "<span class=\"cit-auth-list\"><span class=\"cit-auth\">A. Author</span>, "
                    "<span class=\"cit-auth\">B. Author</span>, "
                    "<span class=\"cit-auth\">C. Author</span></span> "
                    "<span class=\"cit-print-date\">Science 21 March 2008:</span> "
                    "<span class=\"cit-vol\">Vol. 319</span> no. "
                    "<span class=\"cit-issue\">5870</span>, pp. "
                    "<span class=\"cit-first-page\">%2</span> - "
                    "<span class=\"cit-last-page\">%3</span> "
                    "<span class=\"cit-doi\">DOI: 10.1126/science.%1</span>"
                    "<div class=\"cit-extra\"><a class=\"first-item\" "
                    "href=\"/cgi/content/abstract/%1\">Abstract</a> "
                    "<a href=\"/cgi/content/full/%1\">Full Text</a> "
                    "<a href=\"/pdf/%1\">Full Text (PDF)</a> "
                    "<a href=\"/cgi/content/full/%1/DC1\">Supporting Online Material</a></div>"
                    "</li>\n")
                    .arg(i)
                    .arg(1000 + i * 4)
                    .arg(1003 + i * 4);
    }
    html += QStringLiteral("</ul></form></div></body></html>");
    return html;
}

} // namespace

int main(int argc, char** argv) {
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    TestHttpServer server;
    server.serveHtml("/results", resultPage(500));
    server.route(
        "/delayed",
        TestHttpServer::Response::html("<html><body>late</body></html>").delayHeaders(3000));

    auto* browser = new WebBrowser;
    browser->resize(1024, 768);
    browser->show();

    QSignalSpy complete(browser, &WebBrowser::DocumentComplete);
    browser->Navigate(server.url("/results"));
    if (!complete.wait(30000)) {
        std::printf("the result page did not load\n");
        return 1;
    }

    // 1. The snapshot of the result page.
    std::vector<double> ms;
    int elements = 0;
    for (int run = 0; run < 10; ++run) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<Dom> dom = browser->Document({"LI", "SPAN", "A"}, {"SPAN", "A"});
        ms.push_back(timer.nsecsElapsed() / 1e6);
        elements = dom ? dom->size() : -1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("snapshot of 500 entries (%d elements): min %.1f ms, median %.1f ms\n", elements,
                ms.front(), (ms[4] + ms[5]) / 2);

    // 2. Waiting for a page whose server answers after 3 s.
    QElapsedTimer wall;
    browser->Navigate(server.url("/delayed"));
    const double cpu0 = processCpuSeconds();
    wall.start();
    long calls = 0;
    while (browser->Busy()) {
        DoEvents();
        ++calls;
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double cpu = processCpuSeconds() - cpu0;
    std::printf("wait for a 3 s page: %.2f s wall, %.3f s CPU (%.1f %% of a core), %ld DoEvents "
                "calls\n",
                seconds, cpu, 100.0 * cpu / seconds, calls);

    delete browser;
    DestroyBrowserProfile();
    return 0;
}
