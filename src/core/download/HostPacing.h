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
// - a site that pushes back (429 or 503) is left alone as long as it asks (Retry-After, at most
//   an hour), or 10 s doubling up to 10 minutes when it does not say;
// - after five failures in a row (no connection, server errors; a push-back is not one) a site
//   is held until the user resumes it;
// - starts are counted per site and day, so the user can be asked before a run goes far past
//   what a person would fetch by hand.
// Other sites are never held up by one that pushes back. Spans are on the monotonic clock.
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
    // A 429 or 503. `retryAfterSeconds` < 0 when the answer named no pause. False when the
    // site asked for more than an hour: the row fails, and the site is left alone for an hour.
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
    };

    double now() const;
    void countFailure(Site& site);

    const Clock& clock_;
    double spacing_ = kDefaultSpacingSeconds;
    QHash<QString, Site> sites_;
};

// The host a link's transfer goes to, lower-cased; "" for a link without one.
QString HostOfLink(const QString& link);

// Seconds a Retry-After value asks for: a number of seconds or an HTTP date (a date in the past
// asks for 0). Negative when the value is empty or not understood.
double ParseRetryAfter(const QByteArray& value, const QDateTime& now);

// The question asked before a run goes past HostPacing::kStartsBeforeQuestion starts to one
// site in a day: the publisher's rule, and what "yes" and "no" do.
QString ManyStartsQuestion(const QString& host, int startsToday);
