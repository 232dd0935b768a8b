#pragma once

#include "transfer/Downloader.h"

#include <QIcon>
#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <array>

class Inet;
class KeyedListModel;
class KeyedListView;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTimer;

// The download manager window: one list of files to fetch, the controls that steer the
// transfers, and the window's stored placement.
class fFileDownload : public QMainWindow {
    Q_OBJECT

public:
    fFileDownload();

    void Form_Load();
    // Activation refreshes the row count.
    void Form_Activate();
    void Form_Resize();
    // The close handling; sets `Cancel` when the user keeps the window.
    void Form_Unload(bool& Cancel);

    // Repaints the download list now.
    void RefreshList();

    // Adds a waiting row for a handed-over record: Key = link, Text = name. False, and the
    // list unchanged, when the link is already listed.
    bool AddDownloadItem(const QString& link, const QString& name, const QString& type,
                         const QString& saveFolder, const QString& page);

    // --- counters over the list ---
    // Rows whose size, received and percentage columns are all empty.
    int 统计未下载项数目() const;
    // True when no row waits or downloads (an empty list too).
    bool 检测是否下载列表完毕() const;
    // Transfer slots in use plus the design element 0: 2 or more means a parallel transfer
    // runs.
    int CountDownloaderSlots() const;
    // Writes the state counts into panel 4 of the status bar.
    void UpdateStatusCounts();

    // --- the same-name rule, applied when a transfer is about to start ---
    // False when the row's file exists and "跳过" is chosen: the row is then marked completed
    // with the file's length. Also false for a row that is gone or a file whose length cannot
    // be read.
    bool 确定是需要下载(int position);
    // The path to write to: the plain target, or the first free "name[NNN]" variant when the
    // file exists and "覆盖" is not chosen. `newName` receives the name for the row's Text.
    QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                           QString& newName);

    void Timer1_Timer();
    void menu资料检索分析窗口_Click();

    // --- controls ---
    KeyedListModel* ListItems3;
    KeyedListView* ListView3;
    QFrame* Picture3;
    QLabel* Label1; // row count
    QLabel* Label4;
    QLabel* Label7; // transfer mode
    QLabel* Label2;
    QComboBox* Combo1; // parallel transfers, 1 to 6
    QLabel* Label5;
    QComboBox* Combo2; // seconds between two files
    QLabel* Label8;
    QRadioButton* Option1; // 跳过
    QRadioButton* Option2; // 覆盖
    QRadioButton* Option3; // 重命名
    QButtonGroup* SameNameOptions;
    QCheckBox* Check3;
    QComboBox* Combo4;
    QCheckBox* Check4;
    QCheckBox* Check5;
    QCheckBox* Check6;
    QPushButton* Command4;  // 开始下载
    QPushButton* Command31; // 停止下载
    QPushButton* Command26; // 切换
    QFrame* Shape1;         // lit while the scheduler runs
    QTimer* Timer_Down;     // the scheduler
    QTimer* Timer1;         // housekeeping
    QStatusBar* StatusBar1;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2; // current file
    QLabel* StatusPanel3; // transfer control state
    QLabel* StatusPanel4; // counters

    QMenu* menu下载; // 列表操作(&D): the list menu, also the list's context menu
    QMenu* menu窗口;
    QAction* menu资料检索分析窗口;

    // --- scheduler: start, stop, switch, Timer_Down, Timer1, sounds ---
    // Plays built-in sound 101, 102 or 103 without waiting for its end.
    void PlaySound(int number);
    // A parallel slot is busy exactly while its element exists.
    bool SlotLoaded(int slot) const;

    // --- single-connection transfer ---
    Inet* Inet1 = nullptr;
    // Called by the scheduler; returns when the transfer of the row has ended.
    void Inet下载当前文件(int position);
    bool Inet下载文件(int position);

    // --- multi-connection transfer ---
    // Starts the row's transfer in `slot` and returns at once; always false.
    bool 多线程下载(int slot, int position, const QString& link, const QString& targetPath);
    // Abandons the slot's transfer and frees the slot; no further event arrives for it.
    void RemoveDownloaderSlot(int slot);
    // The slots' events. Each finds its row again by the link the slot was started with; an
    // event whose row is gone changes no row (a final one still frees its slot).
    void Downloader1_DownloadProgress(int Index, qint64 received, qint64 total,
                                      const QString& path);
    void Downloader1_DownloadError(int Index, const QString& path);
    void Downloader1_DownloadComplete(int Index, qint64 size, const QString& path);

    // --- file type ---
    // Gives the row's file its real type as extension; true when it did.
    bool CorrectItemFileType(int position);

    // --- list commands ---

    // The four state pictures, by state 1 to 4 (entry 0 unused).
    std::array<QIcon, 5> IL_LV3;

    // --- window state shared by the scheduler and the transfers ---
    // A transfer was started and not yet released.
    bool DownloadBusy = false;
    // Per slot, the list position of the row it works on; entry 1 serves the single
    // connection.
    std::array<int, 12> SlotItem{};
    // Per parallel slot, when its transfer started, in monotonic seconds
    // (Clock::elapsedSeconds), so that the watchdog never fires falsely at midnight.
    std::array<double, 12> SlotStart{};
    // When the last transfer ended, in monotonic seconds (Clock::elapsedSeconds); the gap to
    // the next file runs from it.
    double LastFileTime = 0.0;
    // Parallel transfer slots in use, by element index (1 to 6); element 0 is not held here.
    QMap<int, QPointer<Downloader>> Downloader1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void buildLayout();
    // The list's rows changed in number.
    void showRowCount();

    bool unloading_ = false;

    // --- multi-connection transfer ---
    struct SlotProgress {
        qint64 received = 0;
        qint64 total = 0;
        bool pending = false; // not shown in the list yet
    };
    // The row the slot works on, found by its link; 0 when it is gone.
    int slotRow(int slot) const;
    void showSlotProgress(int slot);
    void showPendingSlotProgress();
    std::array<QString, 12> slotLink_{};
    std::array<SlotProgress, 12> slotProgress_{};
    std::array<qint64, 12> slotShownMs_{}; // when the list last showed it; 0: never
    bool slotProgressQueued_ = false;
};
