#include "ui/tools/fIEcache.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/Version.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/platform/KeyedListView.h"
#include "ui/platform/WebBrowser.h"
#include "ui/tools/CacheTools.h"
#include "ui/tools/Form_Copy_Move.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWebEngineProfile>

#include <algorithm>

namespace {

const QString kDesignCaption = QStringLiteral("浏览器Cookie、缓存和历史列表");
const QString kMyCache = QStringLiteral("我的缓存");
const QString kAllCaches = QStringLiteral("所有缓存");
const QString kUserPrefix = QStringLiteral("用户:");

constexpr int kColumnType = 1;
constexpr int kColumnSize = 2;
constexpr int kColumnFilePath = 3;
constexpr int kSizeSortColumn = 3; // "大小（字节）" counted from 1

QString CountText(int count) {
    return QStringLiteral("共有") + QString::number(count) + QStringLiteral(" 个文件");
}

QString WithoutTrailingSlash(const QString& folder) {
    QString result = folder;
    while (result.size() > 1 && result.endsWith('/'))
        result.chop(1);
    return result;
}

} // namespace

fIEcache::fIEcache(QWidget* owner)
    : QDialog(owner),
      ListItems1(new KeyedListModel({QStringLiteral("网址"), QStringLiteral("类型"),
                                     QStringLiteral("大小（字节）"), QStringLiteral("文件路径")},
                                    this)),
      ListView1(new KeyedListView(this)),
      ListItems2(new KeyedListModel({QStringLiteral("用户名"), QStringLiteral("文件夹")}, this)),
      ListView2(new KeyedListView(this)),
      ListItems3(new KeyedListModel({QStringLiteral("文件夹")}, this)),
      ListView3(new KeyedListView(this)), Label1(new QLabel(QStringLiteral("000"), this)),
      Command1(new QPushButton(QStringLiteral("查看我的缓存"), this)),
      Command7(new QPushButton(QStringLiteral("查看所有用户缓存"), this)),
      Command6(new QPushButton(QStringLiteral("复制选中..."), this)),
      Command2(new QPushButton(QStringLiteral("删除所选文件"), this)),
      Command3(new QPushButton(QStringLiteral("全部删除"), this)),
      Command4(new QPushButton(QStringLiteral("关闭"), this)) {
    setWindowTitle(kDesignCaption);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    ListView1->setModel(ListItems1);
    ListView2->setModel(ListItems2);
    ListView3->setModel(ListItems3);
    ListView1->header()->setSectionsClickable(true);
    for (KeyedListView* list : {ListView1, ListView2, ListView3})
        SetListStripes(list, 0);

    for (QPushButton* button : {Command1, Command7, Command6, Command2, Command3, Command4})
        button->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &fIEcache::Command1_Click);
    connect(Command7, &QPushButton::clicked, this, &fIEcache::Command7_Click);
    connect(Command6, &QPushButton::clicked, this, &fIEcache::Command6_Click);
    connect(Command2, &QPushButton::clicked, this, &fIEcache::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &fIEcache::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &fIEcache::Command4_Click);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { ListView1_ColumnClick(section + 1); });

    auto* lower = new QSplitter(Qt::Horizontal);
    lower->addWidget(ListView2);
    lower->addWidget(ListView3);
    auto* lists = new QSplitter(Qt::Vertical);
    lists->addWidget(ListView1);
    lists->addWidget(lower);
    lists->setStretchFactor(0, 3);
    lists->setStretchFactor(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Label1, 1);
    for (QPushButton* button : {Command1, Command7, Command6, Command2, Command3, Command4})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lists, 1);
    layout->addLayout(buttons);
    resize(900, 600);
}

fIEcache::~fIEcache() = default;

void fIEcache::Form_Load() {
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());
    Profile = BrowserProfile();
    OwnCacheFolder = GetInternetCacheFolder();
    Layout = CacheViewerLayout();
    CacheSubfolders.clear();
    UserProfileFolders.clear();
}

QString fIEcache::ownDataFolder() const {
    if (OwnCacheFolder.isEmpty())
        return {};
    return WithoutTrailingSlash(OwnCacheFolder) + '/' + QLatin1String(kCacheDataSubfolder);
}

CacheFolders fIEcache::deletableFolders() const {
    CacheFolders folders;
    if (!OwnCacheFolder.isEmpty()) {
        if (auto own = CacheFolder::Open(OwnCacheFolder, true))
            folders << std::move(own);
    }
    folders << listedFolders_;
    return folders;
}

bool fIEcache::ownCacheIsLive() const {
    if (!Profile || OwnCacheFolder.isEmpty())
        return false;
    const QString own = QFileInfo(OwnCacheFolder).canonicalFilePath();
    return !own.isEmpty() && own == QFileInfo(Profile->cachePath()).canonicalFilePath();
}

bool fIEcache::belongsToLiveCache(const QString& path) const {
    return ownCacheIsLive() && LiesInside(path, {OwnCacheFolder});
}

// --- my cache ---

void fIEcache::Command1_Click() {
    GetCacheURLList();
    AutoSizeColumns(ListView1, kFitContentsAndHeader);
    ListView1Tag = kMyCache;
}

bool fIEcache::GetCacheURLList() {
    ListItems1->Clear();
    bodySizes_.clear();
    const CacheListing listing = ListCacheEntries(ownDataFolder());
    for (const CacheEntry& entry : listing.entries) {
        if (!ListItems1->Add(entry.filePath, entry.address))
            continue;
        const int position = ListItems1->Count();
        ListItems1->SetSubItem(position, kColumnType, UrlFileType(entry.address));
        bodySizes_.insert(entry.filePath, entry.bodySize);
    }
    Label1->setText(CountText(ListItems1->Count()));
    判断文件在缓存中文件路径();
    if (!listing.ok) {
        Label1->setText(QStringLiteral("出错!!!") + CountText(ListItems1->Count()));
        return false;
    }
    return true;
}

void fIEcache::判断文件在缓存中文件路径() {
    for (int position = 1; position <= ListItems1->Count(); ++position) {
        // The row's key is its entry's file; an entry whose file went meanwhile keeps its
        // row without size and path.
        const QString file = ListItems1->Key(position);
        const auto size = bodySizes_.constFind(file);
        if (size == bodySizes_.constEnd() || !FileExists(file))
            continue;
        ListItems1->SetSubItem(position, kColumnFilePath, file);
        ListItems1->SetSubItem(position, kColumnSize, QString::number(*size));
    }
}

// --- all users ---

void fIEcache::Command7_Click() {
    ListItems1->Clear();
    ListUserCacheFolders();
    for (int i = 1; i <= ListItems2->Count(); ++i)
        ListCacheFiles(ListItems2->SubItem(i, 1), ListItems2->Text(i));
    Label1->setText(CountText(ListItems1->Count()));
    AutoSizeColumns(ListView1, kFitContentsAndHeader);
    AutoSizeColumns(ListView2, kFitContentsAndHeader);
    AutoSizeColumns(ListView3, kFitContentsAndHeader);
    ListView1Tag = kAllCaches;
}

void fIEcache::ListUserCacheFolders() {
    CacheSubfolders.clear();
    UserProfileFolders.clear();
    ListItems2->Clear();
    ListItems3->Clear();
    listedFolders_.clear();
    const QList<UserCacheFolder> folders = FindUserCacheFolders(Layout, &UserProfileFolders);
    for (const UserCacheFolder& found : folders) {
        if (!found.opened || !ListItems2->Add(found.folder, found.userName))
            continue;
        ListItems2->SetSubItem(ListItems2->Count(), 1, found.folder);
        listedFolders_ << found.opened;
        found.opened->list(CacheSubfolders, true, CacheFolder::Wanted::Folders);
    }
    for (const QString& folder : std::as_const(CacheSubfolders)) {
        if (!folder.isEmpty())
            ListItems3->Add(folder, folder);
    }
}

void fIEcache::ListCacheFiles(const QString& cacheFolder, const QString& profileName) {
    QStringList files;
    // Through the folder as it was opened when found, if it was.
    const QString folder = WithoutTrailingSlash(cacheFolder);
    const auto opened = std::find_if(listedFolders_.cbegin(), listedFolders_.cend(),
                                     [&folder](const auto& f) { return f->path() == folder; });
    if (opened != listedFolders_.cend())
        (*opened)->list(files, true, CacheFolder::Wanted::Files);
    else
        ListFiles(cacheFolder, files, true);
    for (const QString& file : std::as_const(files)) {
        if (!ListItems1->Add(file, kUserPrefix + profileName))
            continue;
        const int position = ListItems1->Count();
        ListItems1->SetSubItem(position, kColumnType, UrlFileType(file));
        ListItems1->SetSubItem(position, kColumnSize, QString::number(QFileInfo(file).size()));
        ListItems1->SetSubItem(position, kColumnFilePath, file);
    }
}

// --- deleting ---

void fIEcache::强制删除(const QString& path) {
    ForceDeleteFile(path, deletableFolders());
}

void fIEcache::删除空文件夹() {
    const CacheFolders allowed = deletableFolders();
    for (qsizetype i = CacheSubfolders.size() - 1; i >= 0; --i) {
        const QString& folder = CacheSubfolders.at(i);
        // The running browser's own folders stay: it writes its records into them.
        if (folder.isEmpty() || belongsToLiveCache(folder))
            continue;
        RemoveEmptyFolder(folder, allowed);
    }
}

void fIEcache::deleteRow(int position) {
    const QString text = ListItems1->Text(position);
    const QString filePath = ListItems1->SubItem(position, kColumnFilePath);
    switch (CacheRowActionFor(text, ListItems1->SubItem(position, kColumnType), filePath)) {
    case CacheRowAction::Keep:
        break;
    case CacheRowAction::DeleteFile:
        // A running browser keeps its records of the entries in these files; the entries
        // themselves may go.
        if (belongsToLiveCache(filePath) && IsCacheBookkeepingFile(filePath))
            break;
        强制删除(filePath);
        break;
    case CacheRowAction::DeleteEntry:
        // Entry by entry, by its files: the browser takes a missing entry for a miss. Its own
        // clearing (QWebEngineProfile::clearHttpCache) renews its network session once done,
        // which cancels a page that is loading at that moment.
        if (LiesInside(QFileInfo(ListItems1->Key(position)).path(), {ownDataFolder()}))
            DeleteCacheEntryFiles(ListItems1->Key(position));
        if (!filePath.isEmpty())
            强制删除(filePath);
        break;
    }
}

void fIEcache::finishDeleting() {
    删除空文件夹();
    if (ListView1Tag == kMyCache)
        Command1_Click();
    else if (ListView1Tag == kAllCaches)
        Command7_Click();
}

void fIEcache::Command2_Click() {
    for (int position = 1; position <= ListItems1->Count(); ++position) {
        if (ListItems1->Selected(position))
            deleteRow(position);
    }
    finishDeleting();
}

void fIEcache::Command3_Click() {
    for (int position = 1; position <= ListItems1->Count(); ++position)
        deleteRow(position);
    finishDeleting();
}

// --- copying out ---

QString fIEcache::exportedCopyOf(int position, const CacheFolders& cacheFolders,
                                 const QString& exportFolder, int serial) {
    const QString filePath = ListItems1->SubItem(position, kColumnFilePath);
    // One folder per entry, so that two addresses ending in the same name both arrive at
    // the copy dialog, whose same-name options then decide.
    const QString folder = exportFolder + '/' + QString::number(serial);
    if (!QDir().mkpath(folder))
        return {};
    // The file is read through the cache folder it was listed in, never by its path again:
    // another user's file swapped for a link would otherwise hand root's files to the copy.
    const auto held = std::find_if(cacheFolders.cbegin(), cacheFolders.cend(),
                                   [&filePath](const auto& f) { return f->holds(filePath); });
    if (held == cacheFolders.cend())
        return {};
    const QString copied = folder + '/' + QFileInfo(filePath).fileName();
    if (!(*held)->copyFile(filePath, copied))
        return {};
    const std::optional<CacheEntry> entry = ReadCacheEntry(copied);
    if (!entry)
        return copied; // a file that is no cache entry is copied as it is
    const QString target = folder + '/' + CacheBodyFileName(*entry);
    if (target == copied)
        return copied;
    const bool saved = SaveCacheBody(*entry, target);
    QFile::remove(copied);
    return saved ? target : QString();
}

void fIEcache::Command6_Click() {
    // A cache entry's file holds the address and the response head around the body; what the
    // user wants is the body, under the name of its address. The bodies are written to a
    // temporary folder, from which the copy dialog copies them to the user's folder.
    QTemporaryDir exportFolder(QDir::tempPath() + QStringLiteral("/quillfetch-cache-XXXXXX"));
    QStringList files;
    int serial = 0;
    const CacheFolders cacheFolders = deletableFolders();
    for (int position = 1; position <= ListItems1->Count(); ++position) {
        if (!ListItems1->Selected(position) ||
            ListItems1->SubItem(position, kColumnFilePath).isEmpty() || !exportFolder.isValid())
            continue;
        const QString file = exportedCopyOf(position, cacheFolders, exportFolder.path(), ++serial);
        if (!file.isEmpty())
            files << file;
    }
    Form_Copy_Move::ShowModal(this, files);
}

void fIEcache::Command4_Click() {
    close();
}

// --- sorting ---

void fIEcache::ListView1_ColumnClick(int column) {
    sortOrder_ = sortOrder_ != Qt::DescendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    const bool bySize = column == kSizeSortColumn;
    if (bySize) {
        for (int position = 1; position <= ListItems1->Count(); ++position) {
            const QString size = ListItems1->SubItem(position, kColumnSize);
            if (!size.isEmpty())
                ListItems1->SetSubItem(position, kColumnSize, size.rightJustified(12, QChar('0')));
        }
    }
    ListItems1->SortByColumn(column - 1, sortOrder_);
    if (bySize) {
        for (int position = 1; position <= ListItems1->Count(); ++position) {
            const QString size = ListItems1->SubItem(position, kColumnSize);
            if (size.isEmpty())
                continue;
            bool ok = false;
            const qlonglong value = size.toLongLong(&ok);
            if (ok)
                ListItems1->SetSubItem(position, kColumnSize, QString::number(value));
        }
    }
    ListItems1->Refresh();
}
