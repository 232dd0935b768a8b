#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class fCover;
class fWebSearch;
class fFileDownload;
class DownloadSession;

// The window registry. Each window exists at most once; asking for it loads it on first use
// (constructed and its Form_Load run, hidden unless Form_Load shows it). Unloading closes it,
// schedules its deletion and clears its entry, so the next request loads a new one. A window
// that was unloaded from inside its own Form_Load (a nested wait let the user close it) is
// not handed out: the request answers nullptr, and callers show nothing.
namespace Forms {

::fCover* fCover();
::fWebSearch* fWebSearch();
::fFileDownload* fFileDownload();

// The download session of this run, made on first use; every download window shows it, so a
// window closed and opened again finds its list as it was.
DownloadSession& RunDownloadSession();
// Ends it (the program's end, or a test that starts afresh): its transfers are abandoned.
void EndRunDownloadSession();

// The loaded window of that name (case-blind), or nullptr. Does not load anything.
QWidget* Find(const QString& name);

// True while `form` is a loaded window: false once it has been unloaded, even while its
// deletion still waits (see Hold). A handler that yields checks it before it goes on.
bool IsLoaded(const QWidget* form);

// Closes the window as the user's close box would; its own close handling runs and may keep
// it open.
void Unload(QWidget* form);

// Called by a window at the end of its accepted close: forget it and hide it; delete it once
// control is back in the event loop and none of its own code is still running (see Hold).
void Unloaded(QWidget* form);

// Held by a window's long-running handler (one that lets events run) for as long as it runs:
// the user may close the window meanwhile, and its deletion then waits for the handler to
// return instead of pulling the window from under it.
class Hold {
public:
    explicit Hold(QWidget* form);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    QPointer<QWidget> form_;
};

// The start-up window's icon, which every other window takes.
QIcon CoverIcon();

// Deletes every window still loaded; used once when the program ends.
void DestroyAll();

} // namespace Forms

// True when a window of that name is loaded (shown or hidden). Names compare without regard
// to case: "ffileDownLoad" finds fFileDownload.
bool IsFormLoaded(const QString& name);
