#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

class Clock;

// Per-site manners. The publisher has suspended whole institutions' access for downloading too
// much too fast, so every transfer asks here before it starts, and every end is reported back:
// - starts to one host are spaced (1 s unless set, whatever the number of parallel slots);
// - a site that pushes back (429 or 503) is left alone for 10 s, doubling up to 10 minutes, or
//   as long as it asks when that is longer (Retry-After, at most an hour): a server that names
//   a pause of a second or none at all must not be asked at the spacing rate;
// - after five push-backs or failures in a row (no connection, server errors, bodies cut short)
//   a site is held until the user resumes it, so a site that keeps saying no is asked at most
//   five times before the user decides;
// - starts are counted per site and day, so the user can be asked before a run goes far past
//   what a person would fetch by hand.
// Other sites are never held up by one that pushes back. Spans are on the monotonic clock; what
// must outlive the window or the program (pauses, holds, the browser marks, the day's answer)
// is saved with wall-clock ends. A site is known by its key (SiteKey): one site, one manner.
class HostPacing {
public:
    static constexpr double kDefaultSpacingSeconds = 1.0;
    static constexpr double kLongestSpacingSeconds = 60.0;
    static constexpr double kLongestPauseSeconds = 3600.0;
    static constexpr double kFirstBackoffSeconds = 10.0;
    static constexpr double kLongestBackoffSeconds = 600.0;
    static constexpr int kFailuresBeforeHold = 5;
    static constexpr int kStartsBeforeQuestion = 200;

    explicit HostPacing(const Clock& clock);

    // Clamped to 0..60 s.
    void SetMinimumSpacing(double seconds);
    double MinimumSpacing() const { return spacing_; }

    // 0 when a transfer to `host` may start now; else the seconds to wait. A held host waits
    // until it is resumed: then the answer is negative.
    double SecondsUntilStart(const QString& host) const;
    bool IsHeld(const QString& host) const;
    QStringList HeldHosts() const;

    void NoteStart(const QString& host, const QDate& today);
    int StartsOn(const QString& host, const QDate& day) const;
    // The day's starts of every site that has some, to be kept across a restart, and put back.
    QHash<QString, int> StartsByHost(const QDate& day) const;
    void RestoreStarts(const QString& host, const QDate& day, int starts);

    void NoteSuccess(const QString& host);
    // A 429 or 503 (or a refusal). `retryAfterSeconds` < 0 when the answer named no usable
    // pause. False when the site asked for more than an hour: the row fails, and the site is
    // left alone for an hour. It counts towards the hold like a failure.
    bool NotePushBack(const QString& host, double retryAfterSeconds);
    // Any other failed transfer to the host (no connection, cut short, a server error).
    void NoteFailure(const QString& host);

    void Resume(const QString& host);
    void ResumeAll();

    // A site whose plain transfers still get the bot check after the user passed it in the
    // browser: its files are fetched through the browser's own network stack from then on.
    void MarkThroughBrowser(const QString& host);
    bool IsThroughBrowser(const QString& host) const;

    // A bot check handed to the user: the site's transfers wait (SecondsUntilStart is
    // negative) until the check ends, passed in the browser or given up.
    void AwaitCheck(const QString& host);
    bool IsAwaitingCheck(const QString& host) const;
    void EndCheck(const QString& host, bool passed);
    // The user passed a check of this site in the browser during this run.
    bool PassedCheck(const QString& host) const;

    // The user's answer to the day's question for the site: go on today without asking again.
    void GoOnToday(const QString& host, const QDate& today);
    bool GoesOnToday(const QString& host, const QDate& today) const;

    // What must survive the window and a restart: pauses with their wall-clock end, holds, the
    // failure run, the browser marks and the day's answer. `wallNow` is the clock's UTC time.
    QString SavedState(const QDateTime& wallNow) const;
    void RestoreState(const QString& saved, const QDateTime& wallNow);
    // Grows whenever something SavedState keeps changed, so the state is written only then.
    quint64 StateChanges() const { return changes_; }

private:
    struct Site {
        double lastStart = -1.0;
        double pausedUntil = 0.0;
        double nextBackoff = kFirstBackoffSeconds;
        int failuresInARow = 0;
        bool held = false;
        QDate day;
        int startsThatDay = 0;
        bool throughBrowser = false;
        bool awaitingCheck = false;
        bool passedCheck = false;
        QDate goOnDay;
    };

    double now() const;
    void countFailure(Site& site);
    const Site* find(const QString& host) const;

    const Clock& clock_;
    double spacing_ = kDefaultSpacingSeconds;
    QHash<QString, Site> sites_;
    quint64 changes_ = 0;
};

// One site, one key: letter case, trailing dots and a leading "www." do not make another site.
QString SiteKey(const QString& host);

// The site a link's transfer goes to (SiteKey of its host); "" for a link without one.
QString HostOfLink(const QString& link);

// An HTTP date (the preferred form and the two obsolete ones); invalid when not one.
QDateTime ParseHttpDate(const QByteArray& value);

// Seconds a Retry-After value asks for, counted from `answerTime` (the answer's own Date when
// it has one, so a clock running fast or slow does not shorten the pause): a number of
// seconds or an HTTP date. Repeated values (joined by commas) give the largest. Negative when
// no value asks for a second or more: below 1 s, in the past, unreadable, or too large to read.
double ParseRetryAfter(const QByteArray& value, const QDateTime& answerTime);

// The question asked before a run goes past HostPacing::kStartsBeforeQuestion starts to one
// site in a day: the publisher's rule, and what "yes" and "no" do.
QString ManyStartsQuestion(const QString& host, int startsToday);
