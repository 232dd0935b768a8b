#pragma once

#include "core/app/ProgramValues.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QAction>
#include <QRadioButton>

// The download window of a child process that is killed mid-transfer and started again: in
// transfer `mode`, with 覆盖 chosen, over the rows the last run's journal restores when there
// is one (`restored`). Null when the window cannot be made.
inline fFileDownload* OpenChildDownloadWindow(int mode, bool& restored) {
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    Program().DownloadMode = mode;
    fFileDownload* window = Forms::fFileDownload();
    restored = false;
    if (!window)
        return nullptr;
    // The window's load took the stored mode (2 when none is stored): in the other mode the
    // housekeeping stops a single transfer at its next tick as if no slot were busy.
    Program().DownloadMode = mode;
    window->Option2->setChecked(true); // 覆盖
    restored = window->menu恢复上次的下载列表->isVisible();
    if (restored)
        window->menu恢复上次的下载列表_Click();
    return window;
}
