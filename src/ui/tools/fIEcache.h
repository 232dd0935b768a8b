#pragma once

#include "core/tools/UrlCache.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>

class KeyedListModel;
class KeyedListView;
class QLabel;
class QPushButton;
class QWebEngineProfile;

// The viewer of the embedded browser's cache: the entries of the running user's cache, or
// the files in the cache folders of every user of the machine; copies selected entries out,
// deletes selected rows or all of them. Loaded hidden, it also empties the cache for
// ClearBrowserCache.
class fIEcache : public QDialog {
    Q_OBJECT

public:
    explicit fIEcache(QWidget* owner = nullptr);
    ~fIEcache() override;

    void Form_Load();

    void Command1_Click(); // "查看我的缓存"
    void Command2_Click(); // "删除所选文件"
    void Command3_Click(); // "全部删除"
    void Command4_Click(); // "关闭"
    void Command6_Click(); // "复制选中..."
    void Command7_Click(); // "查看所有用户缓存"
    // A click on the header of ListView1's column `column` (1 = "URL").
    void ListView1_ColumnClick(int column);

    void 强制删除(const QString& path);
    void 删除空文件夹();
    void 判断文件在缓存中文件路径();
    // Lists the running user's cache into ListView1; false when the cache could not be read.
    bool GetCacheURLList();
    void ListUserCacheFolders();
    void ListCacheFiles(const QString& cacheFolder, const QString& profileName);

    // The running program's browser cache (the profile's cache path) and the profile that
    // uses it. Form_Load takes both from the program's browser profile. While the profile
    // uses the own cache, the browser's bookkeeping files and folders there are left alone;
    // its entries go file by file, which the browser takes for misses.
    QString OwnCacheFolder;
    QPointer<QWebEngineProfile> Profile;
    // Where the users' cache folders are looked for; Form_Load takes CacheViewerLayout().
    UserCacheLayout Layout;

    QStringList CacheSubfolders;
    QStringList UserProfileFolders;

    // ListView1's tag: "我的缓存", "所有缓存" or "" before the first listing.
    QString ListView1Tag;

    KeyedListModel* ListItems1;
    KeyedListView* ListView1; // "URL", "TYPE", "SIZE(Byte)", "FilePath"
    KeyedListModel* ListItems2;
    KeyedListView* ListView2; // "用户名", "文件夹"
    KeyedListModel* ListItems3;
    KeyedListView* ListView3; // "文件夹"
    QLabel* Label1;
    QPushButton* Command1;
    QPushButton* Command7;
    QPushButton* Command6;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;

private:
    QString ownDataFolder() const;
    // The folders deletions and copies may reach into: the listed cache folders, as they were
    // opened when listed, and the own one.
    CacheFolders deletableFolders() const;
    // True while a browser may be running on the own cache, whose bookkeeping files and
    // folders are then left to it.
    bool ownCacheIsLive() const;
    bool belongsToLiveCache(const QString& path) const;
    void deleteRow(int position);
    void finishDeleting();
    QString exportedCopyOf(int position, const CacheFolders& cacheFolders,
                           const QString& exportFolder, int serial);

    // The cache folders of the last all-users listing, held open since they were found.
    CacheFolders listedFolders_;
    QHash<QString, qint64> bodySizes_; // by entry file, from the last listing of my cache
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
