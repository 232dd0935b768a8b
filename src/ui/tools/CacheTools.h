#pragma once

#include "core/tools/UrlCache.h"

class QWidget;
class fIEcache;

// The browser-cache commands of the working windows' menus.

// "查看IE浏览器缓存": opens the cache viewer modally.
void ShowCacheViewer(QWidget* owner);

// "清空IE浏览器缓存": empties the cache through the viewer, loaded hidden (the running user's
// entries, then every user's cache files, by the viewer's delete rules), and with
// `showMessage` says "IE缓存清空完毕！".
void ClearBrowserCache(bool showMessage, QWidget* owner = nullptr);

// The viewer that is loaded right now, or nullptr.
fIEcache* LoadedCacheViewer();

// The running program's browser cache folder (the profile's cache path).
QString GetInternetCacheFolder();

// Where the viewer looks for the users' cache folders: worked out on first use from the
// operating-system text, the running user's home and the program's cache folder. Tests point
// it at folders of their own.
UserCacheLayout& CacheViewerLayout();
