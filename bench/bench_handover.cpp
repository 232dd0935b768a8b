// Hands 20,000 search records to the download list through a real analysis run and prints
// how long it took. Run it with QT_QPA_PLATFORM=offscreen where there is no display.
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Registry.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/QtPrompt.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QtPrompt prompt;
    SystemClock clock;
    IniRegistry registry(dir.path() + "/registry.ini");
    SettingsStore settings(dir.path());
    Services() = AppServices{&prompt, &clock, nullptr, &registry, &settings};
    Program().SearchHomePage = QStringLiteral("about:blank"); // stay off the network
    Program().PromptSaveFolder = true;                        // no folder dialog in the run
    Program().DefaultSaveFolder = dir.path() + "/";

    const int records = 20000;
    fWebSearch* search = Forms::fWebSearch();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < records; ++i)
        search->加入LV1(QStringLiteral("An article title of ordinary length, number %1").arg(i),
                        QStringLiteral("https://www.example.org/doi/pdf/10.1126/science.%1").arg(i),
                        QStringLiteral("https://www.example.org/search?FIRSTINDEX=%1").arg(i),
                        QStringLiteral("pdf"), QString());
    const double fillMs = timer.nsecsElapsed() / 1e6;

    timer.restart();
    search->RunAnalysis(fWebSearch::AnalysisRun::All);
    const double runMs = timer.nsecsElapsed() / 1e6;
    const int handed = Forms::fFileDownload()->ListItems3->Count();
    std::printf("search list filled with %d records: %.1f ms\n", records, fillMs);
    std::printf("analysis run handed %d records to the download list: %.1f ms (%.1f us each)\n",
                handed, runMs, runMs * 1000.0 / records);

    // The usual second run: the download window is open now and its list takes every row.
    Forms::fFileDownload()->ListItems3->Clear();
    Forms::fFileDownload()->show();
    QCoreApplication::processEvents();
    timer.restart();
    search->RunAnalysis(fWebSearch::AnalysisRun::All);
    const double shownMs = timer.nsecsElapsed() / 1e6;
    std::printf("again with the download window shown: %d records, %.1f ms (%.1f us each)\n",
                Forms::fFileDownload()->ListItems3->Count(), shownMs, shownMs * 1000.0 / records);
    Forms::DestroyAll();
    DestroyBrowserProfile();
    return 0;
}
