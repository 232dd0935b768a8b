#pragma once

#include "core/transfer/FileOwnership.h"

#include <QString>

#include <functional>

class Clock;
class DownloadFile;
class Inet;

// The single connection's two ways of bringing a body to disk, both through a DownloadFile
// the caller has reserved and started: the copy in chunks while the answer arrives (when it
// announced a length), and the fetch of the whole body once more. The window only watches
// and shows: it is told of every growth and every wait, and answers whether to go on.

enum class SingleWatch {
    Continue,
    Cancelled, // the user stopped the transfer
    Abandoned, // the row, the window or the program went; nothing is left to report to
};

enum class SingleEnd { Completed, Failed, Cancelled, Abandoned };

struct SingleOutcome {
    SingleEnd end = SingleEnd::Failed;
    qint64 received = 0;
    // Why it failed, in the user's words; "" unless it failed.
    QString reason;
    // The copy gave up after this many seconds without a byte (the size column says so).
    bool stalled = false;
};

// Told the bytes received so far and whether the row should show them now: at least at every
// wait for the network and at the end, otherwise at most a few times a second.
using SingleWatcher = std::function<SingleWatch(qint64 received, bool show)>;

inline constexpr qint64 kSingleChunkBytes = 2048;
inline constexpr double kSingleStallSeconds = 120.0;

// Copies the body `inet` is receiving into `file` in chunks of at most 2048 bytes, letting
// pending events run between them, until the file holds `announced` bytes (then commits it by
// `rule`, with the answer's length, status and headers filled in; a resumed file counts
// the bytes it held before),
// the answer ends short of them, nothing arrives for more than 120 seconds on `clock`
// (counted from `lastGrowth`, which it moves), or the watcher says otherwise. Every way but
// Completed abandons the file and cancels `inet`.
SingleOutcome CopyBodyInChunks(Inet& inet, DownloadFile& file, qint64 announced, const Clock& clock,
                               double& lastGrowth, const SingleWatcher& watch,
                               const CommitRule& rule = {});

// Fetches `link` once more, whole and without a Referer, into `file`, and commits it by `rule`
// when the answer completed with at least one byte. The same limits and watcher as above.
SingleOutcome FetchWholeBody(Inet& inet, const QString& link, DownloadFile& file,
                             const Clock& clock, const SingleWatcher& watch,
                             const CommitRule& rule = {});
