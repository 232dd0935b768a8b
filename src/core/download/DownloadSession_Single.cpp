// The single-connection transfer of the download session: one row at a time through Inet1,
// the body copied to disk while it arrives.
#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/transfer/Downloader.h"
#include "core/transfer/FileLife.h"
#include "core/transfer/Inet.h"
#include "core/transfer/PartFiles.h"
#include "core/transfer/Resume.h"
#include "core/transfer/SingleConnection.h"
#include "core/transfer/SingleTransfer.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr double kHeaderWaitSeconds = 30.0;

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

} // namespace

static QString SingleResumeText(qint64 held) {
    return QStringLiteral("续传：从 %1 字节").arg(held);
}

QString DownloadSession::SingleConnectionText(int state) const {
    const QString text = InetStateText(state, Inet1->ResponseCode(), Inet1->ResponseInfo());
    return singleResumedFrom_ > 0
               ? SingleResumeText(singleResumedFrom_) + QStringLiteral("　") + text
               : text;
}

void DownloadSession::Inet下载当前文件(int position) {
    if (position < 1 || position > ListItems3->Count())
        return;
    if (Inet1->StillExecuting() || DownloadBusy) {
        ListItems3->SetSmallIcon(position, ItemState::Waiting);
        ListItems3->SetSubItem(position, DownloadColumn::Size, QStringLiteral("等待重新下载"));
        return;
    }
    const QPointer<DownloadSession> alive(this);
    DownloadBusy = true;
    if (FetchedThroughBrowser(ListItems3->Key(position)))
        DownloadThroughBrowser(position);
    else
        Inet下载文件(position);
    if (alive)
        DownloadBusy = false;
}

bool DownloadSession::singleTransferAbandoned(const QString& link) const {
    return QuitRequested() || !ListItems3->ContainsKey(link);
}

bool DownloadSession::Inet下载文件(int position) {
    KeyedListModel& list = *ListItems3;
    const QString link = list.Key(position);
    if (link.isEmpty() || QuitRequested())
        return false;
    const auto abandoned = [&] {
        return singleTransferAbandoned(link);
    };
    const auto row = [&] {
        return list.PositionOfKey(link);
    };
    // The row or the program went while events ran: nothing is left to report to.
    const auto endQuietly = [&] {
        Inet1->Cancel();
        LastFileTime = monotonicNow();
        return false;
    };
    const auto fail = [&](int at) {
        list.SetSmallIcon(at, ItemState::Failed);
    };
    TransferAnswer answer;
    const auto finish = [&](bool result) {
        Inet1->Cancel();
        const int at = row();
        if (at == 0 || abandoned())
            return endQuietly();
        LastFileTime = monotonicNow();
        if (options_.sound) {
            if (isPageType(list.SubItem(at, DownloadColumn::Type)))
                PlaySound(101);
            if (list.SmallIcon(at) == ItemState::Failed)
                PlaySound(103);
        }
        // A transfer the user stopped says nothing about the site.
        if (DownloadBusy)
            TransferEnded(link, answer);
        if (abandoned() || row() == 0)
            return endQuietly();
        showRowVerdict(row());
        // A web page instead of the file usually means the session has lapsed.
        AutomaticLoginAfterTransfer(row());
        return result;
    };

    double lastGrowth = monotonicNow();
    // Panel 3 tells of a resumed transfer until the next one begins.
    singleResumedFrom_ = 0;

    const ProgramValues& program = Program();
    const SingleTransferConnection connection =
        ConnectionSettingsFor(link, program.ProxyEnabled, program.ProxyAddress, program.ProxyPort);
    Inet1->SetAccessType(connection.accessType);
    Inet1->SetProxy(connection.proxy);
    Inet1->SetRemotePort(connection.remotePort);
    Inet1->SetProtocol(connection.protocol);

    DownloadBusy = true;
    SetRowFailureReason(list, position, QString());
    showRowMessage(2, position, QStringLiteral("正在下载:") + list.Text(position));

    // An interrupted transfer of the row left the body's first bytes: only the rest is asked
    // for, on the condition that the file is still the same (If-Range).
    ResumePoint resume = RowResumePoint(list, position);
    qint64 held = 0;
    if (resume.IsUsable()) {
        // Measured only once its writer is done with it: a parallel transfer stopped a moment
        // ago may still be handing it bytes, and a second copy of the program keeps it locked.
        WaitForTransferDisks();
        const QFileInfo part(resume.partPath);
        if (part.isFile() && !part.isSymLink() && part.size() > 0 && part.size() < resume.total &&
            !PartFileIsHeld(resume.partPath))
            held = part.size();
    }
    // A part that cannot be resumed is of no use to anyone.
    const auto dropResume = [&] {
        if (!resume.partPath.isEmpty())
            RemovePartFile(resume.partPath);
        resume = ResumePoint{};
        held = 0;
        if (const int at = row())
            SetRowResumePoint(list, at, resume);
    };
    if (held == 0)
        dropResume();

    const auto request = [&] {
        QString headers = RefererHeaderBlock(list.Tag(row()), link);
        if (held > 0)
            headers += ResumeHeaderBlock(held, resume.validator);
        Inet1->Execute(link, QStringLiteral("GET"), {}, headers);
        DoEvents();
        // StillExecuting stays true until the whole body is in, so the wait ends as soon as
        // the response headers are, and the body is copied while it arrives. A stop (also the
        // window's close) or the program's end ends it too.
        const double requested = monotonicNow();
        while (Inet1->StillExecuting() && !Inet1->HeadersReceived() && DownloadBusy &&
               !abandoned()) {
            if (monotonicNow() - requested > kHeaderWaitSeconds)
                break;
            DoEvents();
        }
    };
    request();
    if (abandoned())
        return endQuietly();
    bool appending = false;
    if (held > 0 && DownloadBusy && !Inet1->GetHeader().isEmpty()) {
        const ResumeAnswer answer = ClassifyResumeAnswer(
            Inet1->StatusCode(), Inet1->GetHeader(QStringLiteral("Content-Range")), held,
            resume.total,
            ResumeValidator(Inet1->GetHeader(QStringLiteral("ETag")),
                            Inet1->GetHeader(QStringLiteral("Last-Modified"))),
            resume.validator);
        appending = answer == ResumeAnswer::Append;
        if (!appending) {
            // The whole body comes (or must be asked for again): never onto the part.
            dropResume();
            if (answer == ResumeAnswer::Restart) {
                Inet1->Cancel();
                request();
                if (abandoned())
                    return endQuietly();
            }
        }
    }
    position = row();
    if (!DownloadBusy) {
        list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("下载取消"));
        fail(position);
        ReportRowFailure(position, QStringLiteral("已停止"));
        return finish(false);
    }

    // The automatic re-download never asks again for a file the server says is not there.
    SetRowHttpStatus(list, position, Inet1->StatusCode());
    answer = TransferAnswer{Inet1->StatusCode(),
                            Inet1->GetHeader(QStringLiteral("cf-mitigated")).toLatin1(),
                            Inet1->GetHeader(QStringLiteral("retry-after")).toLatin1(), link,
                            Inet1->GetHeader(QStringLiteral("date")).toLatin1()};
    const double announced =
        appending ? double(resume.total)
                  : AnnouncedLength(Inet1->GetHeader(QStringLiteral("content-length")));
    const QString type = FileTypeForContentType(
        ContentTypeWithoutParameters(Inet1->GetHeader(QStringLiteral("Content-Type"))));
    if (Inet1->GetHeader().isEmpty()) {
        const QString why = Inet1->ResponseCode() != 0
                                ? QStringLiteral("无法连接服务器：") + Inet1->ResponseInfo()
                                : QStringLiteral("服务器 30 秒内没有回应");
        Inet1->Cancel();
        fail(position);
        ReportRowFailure(position, why);
        return finish(false);
    }
    // A bot check that its headers name already is no download: no name is taken for it, and
    // the row keeps its type. One its body shows is refused by the commit.
    if (DiagnoseWebPage({answer.status, answer.cfMitigated, link, {}}, QString()) ==
        WebPageKind::BotCheck) {
        Inet1->Cancel();
        fail(position);
        ReportRowFailure(position, QStringLiteral("服务器返回 %1").arg(answer.status));
        answer.botCheck = true;
        return finish(false);
    }

    // A folder part that cannot be a name is reported; the report lets events run.
    QString folder = MakeFolderPath(list.SubItem(position, DownloadColumn::Folder),
                                    [this](const QString& message) {
                                        if (Prompt* prompt = Services().prompt)
                                            prompt->message(promptOwner_, message, MsgIcon::Error);
                                    });
    if (abandoned())
        return endQuietly();
    position = row();
    // Without a folder there is nowhere to write: the file would otherwise land in the root.
    if (folder.isEmpty()) {
        fail(position);
        ReportRowFailure(position, QStringLiteral("无法创建保存文件夹"));
        return finish(false);
    }
    if (!folder.endsWith('/'))
        folder += '/';
    list.SetSubItem(position, DownloadColumn::Folder, folder);

    // Only the table's types name a file: for anything else the row keeps the type it had.
    // What the row asked for stays the kind a body must be to replace a file.
    const QString asked = list.SubItem(position, DownloadColumn::Type);
    if (!type.isEmpty())
        list.SetSubItem(position, DownloadColumn::Type, type);

    // The same-name rule, decided again now that the answer named the type.
    const StartTarget start = DecideStartTarget(
        list, position, list.SubItem(position, DownloadColumn::Type), SameNameChoiceNow());
    if (start.action == StartTarget::Action::Skip) {
        确定是需要下载(position);
        return endQuietly();
    }
    if (start.action == StartTarget::Action::Wait) {
        list.SetSmallIcon(position, ItemState::Waiting);
        return endQuietly();
    }
    const QString target = start.path;
    if (target.isEmpty()) {
        fail(position);
        ReportRowFailure(position, QStringLiteral("文件名无效"));
        return finish(false);
    }
    list.SetText(position, start.newName);
    const QString previous = RowFilePath(list, position);
    const OwnedFile previousOwned = RowOwnedFile(list, position);
    const CommitRule rule = CommitRuleFor(position, target, asked);

    // The name is taken; a file already there stays untouched until the new body is complete
    // and takes its place in one rename.
    DownloadFile file;
    const auto startBody = [&] {
        if (!appending)
            return file.StartBody();
        // The part must still hold exactly what the range was asked after.
        if (file.ResumeBody(resume.partPath) && file.BodySize() == held)
            return true;
        // The part went or moved while the answer came: the rest alone is of no use.
        Inet1->Cancel();
        dropResume();
        return false;
    };
    if (!file.Reserve(target) || !startBody()) {
        if (file.TargetExisted() && QFileInfo(target).isFile()) {
            const QString length = QString::number(QFileInfo(target).size());
            list.SetSubItem(position, DownloadColumn::Size, length);
            list.SetSubItem(position, DownloadColumn::Received, length);
            list.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("无法替换"));
        }
        Inet1->Cancel();
        fail(position);
        ReportRowFailure(position, file.Error());
        return finish(false);
    }
    SetRowFilePath(list, position, target);
    if (appending) {
        file.KeepBodyOnAbandon(true);
        singleResumedFrom_ = held;
        SetPanelText(3, SingleResumeText(held));
    } else if (announced > 0 && Inet1->StatusCode() == 200) {
        // From here an interruption keeps the body, when the answer says how to ask for the
        // rest of the same file.
        const QString validator =
            ResumeValidator(Inet1->GetHeader(QStringLiteral("ETag")),
                            Inet1->GetHeader(QStringLiteral("Last-Modified")));
        if (!validator.isEmpty()) {
            file.KeepBodyOnAbandon(true);
            SetRowResumePoint(list, position,
                              {file.BodyPath(), validator, static_cast<qint64>(announced)});
        }
    }
    // A transfer that ends without its file gives the row back the file it had.
    const auto restorePath = [&] {
        if (const int at = row())
            SetRowFilePath(list, at, previous);
    };

    bool result = false;
    if (announced > 0) {
        const SingleTransferEnd end =
            copyBodyInChunks(link, file, static_cast<qint64>(announced), lastGrowth, rule);
        if (end == SingleTransferEnd::Abandoned || abandoned()) {
            restorePath();
            return endQuietly();
        }
        result = end == SingleTransferEnd::Completed;
    } else {
        result = WholeBodyDownload(position, file, rule);
        if (abandoned()) {
            restorePath();
            return endQuietly();
        }
    }
    answer.botCheck = file.Kind() == BodyKind::BotCheck;
    if (!file.Committed()) {
        restorePath();
    } else {
        SetRowResumePoint(list, row(), ResumePoint{});
        RecordCommit(row(), file.Owned());
        RowFileCommitted(row(), previousOwned);
    }
    // An error answer fails the row, also when its page was kept on a free name to be told
    // apart; it never counts as the file.
    const int status = Inet1->StatusCode();
    if (status >= 400) {
        list.SetSmallIcon(row(), ItemState::Failed);
        ReportRowFailure(row(), QStringLiteral("服务器返回 %1").arg(status));
        result = false;
    }
    // Only a committed body is checked: a failed transfer left the target as it was.
    if (file.Committed()) {
        CorrectItemFileType(row(), file.Kind() == BodyKind::WebPage);
        if (abandoned())
            return endQuietly();
    }
    return finish(result);
}

DownloadSession::SingleTransferEnd
DownloadSession::copyBodyInChunks(const QString& link, DownloadFile& file, qint64 announced,
                                  double& lastGrowth, const CommitRule& rule) {
    KeyedListModel& list = *ListItems3;
    const auto abandoned = [&] {
        return singleTransferAbandoned(link);
    };
    int position = list.PositionOfKey(link);

    list.SetSubItem(position, DownloadColumn::Size, lengthText(double(announced)));
    list.SetSubItem(position, DownloadColumn::Received, QStringLiteral("0"));
    KeepResponsive();
    if (abandoned()) {
        Inet1->Cancel();
        return SingleTransferEnd::Abandoned;
    }

    qint64 shownLength = 0;
    // The size column is read again at every growth, but parsed only when its text changed.
    QString sizeText;
    double size = 0;
    const SingleOutcome outcome = CopyBodyInChunks(
        *Inet1, file, announced, ProgramClock(), lastGrowth,
        [&](qint64 length, bool show) {
            if (abandoned())
                return SingleWatch::Abandoned;
            position = list.PositionOfKey(link);
            if (show && length > shownLength) {
                shownLength = length;
                list.SetSubItem(position, DownloadColumn::Received, QString::number(length));
                const QString shownSize = list.SubItem(position, DownloadColumn::Size);
                if (shownSize != sizeText) {
                    sizeText = shownSize;
                    size = AnnouncedLength(sizeText);
                }
                if (size > 0)
                    list.SetSubItem(position, DownloadColumn::Percent, PercentText(length, size));
            }
            return DownloadBusy ? SingleWatch::Continue : SingleWatch::Cancelled;
        },
        rule);
    if (outcome.end == SingleEnd::Abandoned || abandoned())
        return SingleTransferEnd::Abandoned;
    position = list.PositionOfKey(link);
    if (outcome.end == SingleEnd::Completed) {
        list.SetSmallIcon(position, ItemState::Completed);
        return SingleTransferEnd::Completed;
    }
    // Lets the cancelled answer go before the row shows how it ended.
    DoEvents();
    if (abandoned())
        return SingleTransferEnd::Abandoned;
    position = list.PositionOfKey(link);
    list.SetSubItem(position, DownloadColumn::Size,
                    outcome.end == SingleEnd::Cancelled ? QStringLiteral("下载取消")
                                                        : QStringLiteral("下载失败"));
    list.SetSmallIcon(position, ItemState::Failed);
    ReportRowFailure(position, outcome.reason);
    return SingleTransferEnd::Failed;
}

bool DownloadSession::WholeBodyDownload(int position, DownloadFile& file, const CommitRule& rule) {
    KeyedListModel& list = *ListItems3;
    const QString link = list.Key(position);
    const auto abandoned = [&] {
        return singleTransferAbandoned(link);
    };

    list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("未知"));

    // The body goes to the temporary file beside the target, which becomes the target only
    // when something arrived: an empty answer leaves no file.
    const SingleOutcome outcome = FetchWholeBody(
        *Inet1, link, file, ProgramClock(),
        [&](qint64, bool) {
            if (abandoned())
                return SingleWatch::Abandoned;
            return DownloadBusy ? SingleWatch::Continue : SingleWatch::Cancelled;
        },
        rule);
    if (outcome.end == SingleEnd::Abandoned || abandoned())
        return false;
    position = list.PositionOfKey(link);
    if (outcome.end == SingleEnd::Cancelled || outcome.stalled) {
        list.SetSubItem(position, DownloadColumn::Size,
                        outcome.stalled ? QStringLiteral("下载失败") : QStringLiteral("下载取消"));
        list.SetSmallIcon(position, ItemState::Failed);
        ReportRowFailure(position, outcome.reason);
        return false;
    }

    const QString countText = QString::number(outcome.received);
    list.SetSubItem(position, DownloadColumn::Size, countText);
    list.SetSubItem(position, DownloadColumn::Received, countText);
    list.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
    if (outcome.end == SingleEnd::Completed) {
        list.SetSmallIcon(position, ItemState::Completed);
        return true;
    }
    list.SetSmallIcon(position, ItemState::Failed);
    ReportRowFailure(position, outcome.reason);
    return false;
}
