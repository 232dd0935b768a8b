#include "ui/tools/CacheTools.h"

#include "core/app/OsText.h"
#include "core/app/ProgramValues.h"
#include "core/platform/Prompt.h"
#include "ui/platform/WebBrowser.h"
#include "ui/tools/fIEcache.h"

#include <QDir>
#include <QPointer>
#include <QWebEngineProfile>

#include <memory>
#include <optional>

namespace {

QPointer<fIEcache>& viewer() {
    static QPointer<fIEcache> loaded;
    return loaded;
}

} // namespace

fIEcache* LoadedCacheViewer() {
    return viewer().data();
}

QString GetInternetCacheFolder() {
    return BrowserProfile()->cachePath();
}

UserCacheLayout& CacheViewerLayout() {
    static std::optional<UserCacheLayout> layout;
    if (!layout) {
        const QString osText = Program().OsText.isEmpty() ? OsText() : Program().OsText;
        layout = UserCacheLayoutFor(osText, QDir::homePath(), GetInternetCacheFolder());
    }
    return *layout;
}

void ShowCacheViewer(QWidget* owner) {
    if (fIEcache* open = viewer().data()) {
        open->raise();
        open->activateWindow();
        return;
    }
    QPointer<fIEcache> dialog = new fIEcache(owner);
    dialog->setObjectName(QStringLiteral("fIEcache"));
    viewer() = dialog;
    dialog->Form_Load();
    if (dialog)
        dialog->exec();
    delete dialog.data();
}

void ClearBrowserCache(bool showMessage, QWidget* owner) {
    QPointer<fIEcache> cleaner = viewer().data();
    const bool ownViewer = cleaner.isNull();
    if (ownViewer) {
        cleaner = new fIEcache(owner);
        cleaner->setObjectName(QStringLiteral("fIEcache"));
        viewer() = cleaner;
        cleaner->Form_Load();
    }
    // Each step may let events run (the browser empties its cache asynchronously), so the
    // viewer is looked at again after every one.
    using Step = void (fIEcache::*)();
    for (Step step : {&fIEcache::Command1_Click, &fIEcache::Command3_Click,
                      &fIEcache::Command7_Click, &fIEcache::Command3_Click}) {
        if (!cleaner)
            break;
        (cleaner.data()->*step)();
    }
    if (cleaner) {
        if (ownViewer)
            delete cleaner.data();
        else
            cleaner->close();
    }
    if (showMessage) {
        if (Prompt* prompt = Services().prompt)
            prompt->message(owner, QStringLiteral("浏览器缓存清空完毕！"), MsgIcon::Information);
    }
}
