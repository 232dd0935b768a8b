#include "core/transfer/SingleConnection.h"

#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/transfer/FileLife.h"
#include "core/transfer/Inet.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QPointer>

namespace {

// While bytes wait in the answer, chunks are taken in one go for this long before pending
// events get their turn: letting events in costs far more than the copy of a chunk of 2048
// bytes, and a turn this short still keeps the window responsive. The clock is looked at
// every kChunksPerLook chunks only.
constexpr qint64 kTurnMs = 8;
constexpr int kChunksPerLook = 32;
// While bytes keep coming, the row is shown its progress this often at most.
constexpr qint64 kShowIntervalMs = 250;

// Lets Inet::OpenURL stream into a DownloadFile.
class FileDevice : public QIODevice {
public:
    explicit FileDevice(DownloadFile& file) : file_(file) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        return file_.Write(data, size) ? size : -1;
    }

private:
    DownloadFile& file_;
};

// The rule with what the answer said filled in.
CommitRule answered(const CommitRule& rule, const Inet& inet, qint64 expected) {
    CommitRule filled = rule;
    filled.expected = expected;
    filled.status = inet.StatusCode();
    filled.contentType = inet.GetHeader(QStringLiteral("Content-Type"));
    filled.cfMitigated = inet.GetHeader(QStringLiteral("cf-mitigated")).toLatin1();
    filled.finalUrl = inet.URL();
    return filled;
}

SingleOutcome ended(SingleEnd end, qint64 received, const QString& reason = {}) {
    SingleOutcome outcome;
    outcome.end = end;
    outcome.received = received;
    outcome.reason = reason;
    return outcome;
}

} // namespace

SingleOutcome CopyBodyInChunks(Inet& inet, DownloadFile& file, qint64 announced, const Clock& clock,
                               double& lastGrowth, const SingleWatcher& watch,
                               const CommitRule& rule) {
    const QPointer<Inet> alive(&inet);
    // A resumed body counts from the bytes it already holds.
    qint64 length = file.BodySize();
    const auto giveUp = [&](SingleEnd end, const QString& reason) {
        if (alive)
            alive->Cancel();
        file.Abandon();
        return ended(end, length, reason);
    };
    QElapsedTimer sinceShown;
    sinceShown.start();
    QElapsedTimer turn;
    turn.start();
    int chunks = 0;
    for (;;) {
        if (!alive)
            return giveUp(SingleEnd::Abandoned, {});
        const QByteArray chunk = inet.GetChunk(kSingleChunkBytes);
        if (!chunk.isEmpty()) {
            if (!file.Write(chunk))
                return giveUp(SingleEnd::Failed, file.Error());
            length += chunk.size();
            lastGrowth = clock.elapsedSeconds();
        }
        const bool complete = length >= announced;
        const bool waiting = chunk.isEmpty();
        if (!complete && !waiting &&
            (++chunks < kChunksPerLook || (chunks = 0, turn.elapsed() < kTurnMs)))
            continue;
        chunks = 0;
        turn.restart();
        // Nothing has arrived yet: wait for the network without spinning. Otherwise only let
        // pending events in, so that a fast body is not slowed down.
        if (waiting)
            DoEvents();
        else
            KeepResponsive();
        const bool show = complete || waiting || sinceShown.elapsed() >= kShowIntervalMs;
        if (show)
            sinceShown.restart();
        const SingleWatch answer = watch(length, show);
        if (answer == SingleWatch::Abandoned || !alive)
            return giveUp(SingleEnd::Abandoned, {});
        if (complete) {
            if (!file.Commit(answered(rule, inet, announced)))
                return giveUp(SingleEnd::Failed, file.Error());
            return ended(SingleEnd::Completed, length);
        }
        if (clock.elapsedSeconds() - lastGrowth > kSingleStallSeconds) {
            SingleOutcome outcome =
                giveUp(SingleEnd::Failed,
                       QStringLiteral("超过 %1 秒没有收到数据").arg(kSingleStallSeconds));
            outcome.stalled = true;
            return outcome;
        }
        // The stop command ran while events were let in (it may have cancelled inet too).
        if (answer == SingleWatch::Cancelled)
            return giveUp(SingleEnd::Cancelled, QStringLiteral("已停止"));
        // An answer that has ended with bytes missing will not grow again: it fails now rather
        // than after the stall time, with the same outcome.
        if (!inet.StillExecuting() && inet.BytesAvailable() == 0)
            return giveUp(SingleEnd::Failed, CutShortReason(length, announced));
    }
}

SingleOutcome FetchWholeBody(Inet& inet, const QString& link, DownloadFile& file,
                             const Clock& clock, const SingleWatcher& watch,
                             const CommitRule& rule) {
    const QPointer<Inet> alive(&inet);
    SingleEnd stop = SingleEnd::Completed;
    qint64 count = -1;
    {
        FileDevice device(file);
        qint64 lastSize = 0;
        double lastGrowth = clock.elapsedSeconds();
        // Asked after every pump of the fetch.
        const auto keepWaiting = [&] {
            const SingleWatch answer = watch(file.BodySize(), false);
            if (answer == SingleWatch::Abandoned) {
                stop = SingleEnd::Abandoned;
                return false;
            }
            if (answer == SingleWatch::Cancelled) {
                stop = SingleEnd::Cancelled;
                return false;
            }
            const double now = clock.elapsedSeconds();
            if (file.BodySize() > lastSize) {
                lastSize = file.BodySize();
                lastGrowth = now;
            } else if (now - lastGrowth > kSingleStallSeconds) {
                stop = SingleEnd::Failed;
                return false;
            }
            return true;
        };
        // No Referer on this request.
        count = inet.OpenURL(link, device, keepWaiting);
    }
    DoEvents();
    const qint64 received = std::max<qint64>(count, 0);
    // A stop that cancelled the connection itself ends the fetch before it is asked.
    if (stop == SingleEnd::Completed && count < 0) {
        const SingleWatch answer = watch(file.BodySize(), false);
        if (answer == SingleWatch::Abandoned)
            stop = SingleEnd::Abandoned;
        else if (answer == SingleWatch::Cancelled)
            stop = SingleEnd::Cancelled;
    }
    if (stop != SingleEnd::Completed) {
        file.Abandon();
        SingleOutcome outcome = ended(stop, received);
        if (stop == SingleEnd::Cancelled)
            outcome.reason = QStringLiteral("已停止");
        if (stop == SingleEnd::Failed) {
            outcome.stalled = true;
            outcome.reason = QStringLiteral("超过 %1 秒没有收到数据").arg(kSingleStallSeconds);
        }
        return outcome;
    }
    if (count <= 0) {
        QString reason = QStringLiteral("服务器没有返回任何数据");
        if (count < 0 && alive && alive->ResponseCode() != 0)
            reason = file.BodySize() > 0
                         ? QStringLiteral("传输中断：") + alive->ResponseInfo()
                         : QStringLiteral("无法连接服务器：") + alive->ResponseInfo();
        else if (count < 0 && !file.Error().isEmpty())
            reason = file.Error();
        file.Abandon();
        return ended(SingleEnd::Failed, received, reason);
    }
    CommitRule whole = rule;
    whole.expected = -1;
    if (alive)
        whole = answered(rule, *alive, -1);
    if (!file.Commit(whole))
        return ended(SingleEnd::Failed, received, file.Error());
    return ended(SingleEnd::Completed, received);
}
