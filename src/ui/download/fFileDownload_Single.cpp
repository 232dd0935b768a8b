// The single-connection transfer of the download window: one row at a time through Inet1,
// the body copied to disk while it arrives.
#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/transfer/Inet.h"
#include "core/transfer/SingleTransfer.h"
#include "ui/app/Forms.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRadioButton>
#include <QSaveFile>

namespace {

const QString kFormName = QStringLiteral("fFileDownload");
constexpr qint64 kChunkBytes = 2048;
constexpr double kHeaderWaitSeconds = 30.0;
constexpr double kStallSeconds = 120.0;

// Spans are measured on the monotonic clock, so a transfer running across midnight is not
// taken for a stalled one.
double monotonicNow() {
    return ProgramClock().elapsedSeconds();
}

bool isPageType(const QString& type) {
    const QString lower = type.toLower();
    return lower == QLatin1String("htm") || lower == QLatin1String("html");
}

QString lengthText(double length) {
    return QString::number(length, 'g', 17);
}

void discard(QFile& file) {
    file.close();
    file.remove();
}

} // namespace

void fFileDownload::setupSingleTransfer() {
    Inet1 = new Inet(this);
    connect(Inet1, &Inet::StateChanged, this, [this](int state) { Inet1_StateChanged(state); });
}

void fFileDownload::Inet1_StateChanged(int State) {
    StatusPanel3->setText(InetStateText(State, Inet1->ResponseCode(), Inet1->ResponseInfo()));
}

void fFileDownload::Inet下载当前文件(int position) {
    if (position < 1 || position > ListItems3->Count())
        return;
    if (Inet1->StillExecuting() || DownloadBusy) {
        ListItems3->SetSmallIcon(position, ItemState::Waiting);
        ListItems3->SetSubItem(position, DownloadColumn::Size, QStringLiteral("等待重新下载"));
        return;
    }
    Forms::Hold hold(this);
    DownloadBusy = true;
    Inet下载文件(position);
    DownloadBusy = false;
}

bool fFileDownload::singleTransferAbandoned(const QString& link, bool registered) const {
    // A window that was never registered (built directly) cannot be unloaded.
    return QuitRequested() || (registered && Forms::Find(kFormName) != this) ||
           !ListItems3->ContainsKey(link);
}

bool fFileDownload::Inet下载文件(int position) {
    KeyedListModel& list = *ListItems3;
    const QString link = list.Key(position);
    if (link.isEmpty() || QuitRequested())
        return false;
    Forms::Hold hold(this);
    const bool registered = Forms::Find(kFormName) == this;
    const auto abandoned = [&] {
        return singleTransferAbandoned(link, registered);
    };
    const auto row = [&] {
        return list.PositionOfKey(link);
    };
    // The row, the window or the program went while events ran: nothing is left to report to.
    const auto endQuietly = [&] {
        Inet1->Cancel();
        LastFileTime = monotonicNow();
        return false;
    };
    const auto fail = [&](int at) {
        list.SetSmallIcon(at, ItemState::Failed);
    };
    const auto finish = [&](bool result) {
        Inet1->Cancel();
        const int at = row();
        if (at == 0 || abandoned())
            return endQuietly();
        StatusPanel2->setText(QStringLiteral("完成下载:") + list.Text(at));
        LastFileTime = monotonicNow();
        if (Check6->isChecked()) {
            if (isPageType(list.SubItem(at, DownloadColumn::Type)))
                PlaySound(101);
            if (list.SmallIcon(at) == ItemState::Failed)
                PlaySound(103);
        }
        // A web page instead of the file usually means the session has lapsed.
        AutomaticLoginAfterTransfer(at);
        return result;
    };

    double lastGrowth = monotonicNow();

    const ProgramValues& program = Program();
    const SingleTransferConnection connection =
        ConnectionSettingsFor(link, program.ProxyEnabled, program.ProxyAddress, program.ProxyPort);
    Inet1->SetAccessType(connection.accessType);
    Inet1->SetProxy(connection.proxy);
    Inet1->SetRemotePort(connection.remotePort);
    Inet1->SetProtocol(connection.protocol);

    DownloadBusy = true;
    StatusPanel2->setText(QStringLiteral("正在下载:") + list.Text(position));

    Inet1->Execute(link, QStringLiteral("GET"), {}, RefererHeaderBlock(list.Tag(position), link));
    DoEvents();
    // StillExecuting stays true until the whole body is in, so the wait ends as soon as the
    // response headers are, and the body is copied while it arrives. A stop or a closed
    // window ends it too.
    const double requested = monotonicNow();
    while (Inet1->StillExecuting() && !Inet1->HeadersReceived() && DownloadBusy && !abandoned()) {
        if (monotonicNow() - requested > kHeaderWaitSeconds)
            break;
        DoEvents();
    }
    if (abandoned())
        return endQuietly();
    position = row();
    if (!DownloadBusy) {
        list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("下载取消"));
        fail(position);
        return finish(false);
    }

    // The automatic re-download never asks again for a file the server says is not there.
    SetRowHttpStatus(list, position, Inet1->StatusCode());
    const double announced = AnnouncedLength(Inet1->GetHeader(QStringLiteral("content-length")));
    const QString type = FileTypeForContentType(
        ContentTypeWithoutParameters(Inet1->GetHeader(QStringLiteral("Content-Type"))));
    if (Inet1->GetHeader().isEmpty()) {
        Inet1->Cancel();
        fail(position);
        return finish(false);
    }

    // A folder part that cannot be a name is reported; the report lets events run.
    QString folder = MakeFolderPath(list.SubItem(position, DownloadColumn::Folder),
                                    [this](const QString& message) {
                                        if (Prompt* prompt = Services().prompt)
                                            prompt->message(this, message, MsgIcon::Error);
                                    });
    if (abandoned())
        return endQuietly();
    position = row();
    // Without a folder there is nowhere to write: the file would otherwise land in the root.
    if (folder.isEmpty()) {
        fail(position);
        return finish(false);
    }
    if (!folder.endsWith('/'))
        folder += '/';
    list.SetSubItem(position, DownloadColumn::Folder, folder);

    // Only the table's types name a file: for anything else the row keeps the type it had.
    if (!type.isEmpty())
        list.SetSubItem(position, DownloadColumn::Type, type);

    QString target;
    if (Option3->isChecked()) {
        QString newName;
        target = 重命名保存路径(folder, list.Text(position),
                                list.SubItem(position, DownloadColumn::Type), newName);
        if (!target.isEmpty())
            list.SetText(position, newName);
    } else {
        target = TargetFilePath(folder, list.Text(position),
                                list.SubItem(position, DownloadColumn::Type));
    }
    if (target.isEmpty()) {
        fail(position);
        return finish(false);
    }

    if (FileExists(target)) {
        QFile::remove(target);
        if (FileExists(target)) {
            const QString length = QString::number(QFileInfo(target).size());
            list.SetSubItem(position, DownloadColumn::Size, length);
            list.SetSubItem(position, DownloadColumn::Received, length);
            list.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("无法替换"));
            fail(position);
            Inet1->Cancel();
            return finish(false);
        }
    }

    bool result = false;
    if (announced > 0) {
        const SingleTransferEnd end = copyBodyInChunks(link, target, announced, lastGrowth);
        if (end == SingleTransferEnd::Abandoned || abandoned())
            return endQuietly();
        result = end == SingleTransferEnd::Completed;
    } else {
        result = WholeBodyDownload(position, target);
        if (abandoned())
            return endQuietly();
    }
    // After a complete copy, and after every whole-body fetch (which leaves no file when it
    // fails).
    if (result || announced <= 0) {
        CorrectItemFileType(row());
        if (abandoned())
            return endQuietly();
    }
    return finish(result);
}

fFileDownload::SingleTransferEnd fFileDownload::copyBodyInChunks(const QString& link,
                                                                 const QString& targetPath,
                                                                 double announced,
                                                                 double& lastGrowth) {
    KeyedListModel& list = *ListItems3;
    const bool registered = Forms::Find(kFormName) == this;
    const auto abandoned = [&] {
        return singleTransferAbandoned(link, registered);
    };
    int position = list.PositionOfKey(link);

    list.SetSubItem(position, DownloadColumn::Size, lengthText(announced));
    list.SetSubItem(position, DownloadColumn::Received, QStringLiteral("0"));
    KeepResponsive();
    if (abandoned())
        return SingleTransferEnd::Abandoned;
    position = list.PositionOfKey(link);

    QFile file(targetPath);
    // Ends the copy with the row failed: the partial file goes, the size column says why.
    const auto failWith = [&](const QString& word) {
        Inet1->Cancel();
        DoEvents();
        discard(file);
        if (abandoned())
            return SingleTransferEnd::Abandoned;
        const int at = list.PositionOfKey(link);
        list.SetSubItem(at, DownloadColumn::Size, word);
        list.SetSmallIcon(at, ItemState::Failed);
        return SingleTransferEnd::Failed;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return failWith(QStringLiteral("下载失败"));

    qint64 length = 0;
    qint64 lastLength = 0;
    // The size column is read again at every growth, but parsed only when its text changed.
    QString sizeText;
    double size = 0;
    for (;;) {
        const QByteArray chunk = Inet1->GetChunk(kChunkBytes);
        // Nothing has arrived yet: wait for the network without spinning. Otherwise only
        // let pending events in, so a fast body is not slowed down.
        if (chunk.isEmpty())
            DoEvents();
        else
            KeepResponsive();
        if (abandoned()) {
            Inet1->Cancel();
            discard(file);
            return SingleTransferEnd::Abandoned;
        }
        position = list.PositionOfKey(link);
        if (!chunk.isEmpty()) {
            if (file.write(chunk) != chunk.size())
                return failWith(QStringLiteral("下载失败"));
            length += chunk.size();
        }
        const double now = monotonicNow();
        if (length > lastLength) {
            lastLength = length;
            lastGrowth = now;
            list.SetSubItem(position, DownloadColumn::Received, QString::number(length));
            const QString shownSize = list.SubItem(position, DownloadColumn::Size);
            if (shownSize != sizeText) {
                sizeText = shownSize;
                size = AnnouncedLength(sizeText);
            }
            if (size > 0)
                list.SetSubItem(position, DownloadColumn::Percent, PercentText(length, size));
        }
        if (length >= announced) {
            if (!file.flush()) // a full disk shows only now
                return failWith(QStringLiteral("下载失败"));
            file.close();
            list.SetSmallIcon(position, ItemState::Completed);
            return SingleTransferEnd::Completed;
        }
        if (now - lastGrowth > kStallSeconds)
            return failWith(QStringLiteral("下载失败"));
        // The stop command ran while events were let in (it may have cancelled Inet1 too).
        if (!DownloadBusy)
            return failWith(QStringLiteral("下载取消"));
        // A response that has ended with bytes missing will not grow again: it fails now
        // rather than after the stall time, with the same outcome.
        if (!Inet1->StillExecuting() && Inet1->BytesAvailable() == 0)
            return failWith(QStringLiteral("下载失败"));
    }
}

bool fFileDownload::WholeBodyDownload(int position, const QString& targetPath) {
    KeyedListModel& list = *ListItems3;
    const QString link = list.Key(position);
    const bool registered = Forms::Find(kFormName) == this;
    const auto abandoned = [&] {
        return singleTransferAbandoned(link, registered);
    };

    list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("未知"));

    // The body goes to a temporary file beside the target, which becomes the target only
    // when something arrived: an empty answer leaves no file, as before.
    QSaveFile file(targetPath);
    enum class Stop { None, Stalled, Cancelled, Abandoned };
    Stop stop = Stop::None;
    qint64 count = 0;
    if (file.open(QIODevice::WriteOnly)) {
        qint64 lastSize = 0;
        double lastGrowth = monotonicNow();
        // Asked after every pump of the fetch.
        const auto keepWaiting = [&] {
            if (abandoned()) {
                stop = Stop::Abandoned;
                return false;
            }
            if (!DownloadBusy) {
                stop = Stop::Cancelled;
                return false;
            }
            const double now = monotonicNow();
            if (file.pos() > lastSize) {
                lastSize = file.pos();
                lastGrowth = now;
            } else if (now - lastGrowth > kStallSeconds) {
                stop = Stop::Stalled;
                return false;
            }
            return true;
        };
        // No Referer on this request.
        count = std::max<qint64>(Inet1->OpenURL(link, file, keepWaiting), 0);
        // A stop that cancelled Inet1 itself ends the fetch before it is asked.
        if (stop == Stop::None && !DownloadBusy)
            stop = Stop::Cancelled;
    }
    DoEvents();
    if (stop == Stop::Abandoned || abandoned()) {
        file.cancelWriting();
        return false;
    }
    position = list.PositionOfKey(link);
    if (stop == Stop::Stalled || stop == Stop::Cancelled) {
        file.cancelWriting();
        list.SetSubItem(position, DownloadColumn::Size,
                        stop == Stop::Stalled ? QStringLiteral("下载失败")
                                              : QStringLiteral("下载取消"));
        list.SetSmallIcon(position, ItemState::Failed);
        return false;
    }

    // A fetch that failed, or was cut short, delivered nothing that could be the file.
    const QString countText = QString::number(count);
    list.SetSubItem(position, DownloadColumn::Size, countText);
    list.SetSubItem(position, DownloadColumn::Received, countText);
    list.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
    if (count > 0 && file.commit()) {
        list.SetSmallIcon(position, ItemState::Completed);
        return true;
    }
    file.cancelWriting();
    list.SetSmallIcon(position, ItemState::Failed);
    return false;
}
