#include "core/download/HostPacing.h"

#include "core/platform/Clock.h"

#include <QLocale>
#include <QUrl>

#include <algorithm>

HostPacing::HostPacing(const Clock& clock) : clock_(clock) {}

double HostPacing::now() const {
    return clock_.elapsedSeconds();
}

void HostPacing::SetMinimumSpacing(double seconds) {
    spacing_ = std::clamp(seconds, 0.0, kLongestSpacingSeconds);
}

double HostPacing::SecondsUntilStart(const QString& host) const {
    const auto found = sites_.constFind(host);
    if (found == sites_.constEnd())
        return 0.0;
    const Site& site = *found;
    if (site.held || site.awaitingCheck)
        return -1.0;
    double wait = site.pausedUntil - now();
    if (site.lastStart >= 0.0)
        wait = std::max(wait, site.lastStart + spacing_ - now());
    return std::max(0.0, wait);
}

bool HostPacing::IsHeld(const QString& host) const {
    const auto found = sites_.constFind(host);
    return found != sites_.constEnd() && found->held;
}

QStringList HostPacing::HeldHosts() const {
    QStringList hosts;
    for (auto it = sites_.constBegin(); it != sites_.constEnd(); ++it) {
        if (it->held)
            hosts.append(it.key());
    }
    hosts.sort();
    return hosts;
}

void HostPacing::NoteStart(const QString& host, const QDate& today) {
    Site& site = sites_[host];
    site.lastStart = now();
    if (site.day != today) {
        site.day = today;
        site.startsThatDay = 0;
    }
    ++site.startsThatDay;
}

int HostPacing::StartsOn(const QString& host, const QDate& day) const {
    const auto found = sites_.constFind(host);
    return found != sites_.constEnd() && found->day == day ? found->startsThatDay : 0;
}

QHash<QString, int> HostPacing::StartsByHost(const QDate& day) const {
    QHash<QString, int> starts;
    for (auto it = sites_.constBegin(); it != sites_.constEnd(); ++it) {
        if (it->day == day && it->startsThatDay > 0)
            starts.insert(it.key(), it->startsThatDay);
    }
    return starts;
}

// Kept counts only ever raise this run's: a restart must not hand out a fresh allowance.
void HostPacing::RestoreStarts(const QString& host, const QDate& day, int starts) {
    if (host.isEmpty() || starts <= 0)
        return;
    Site& site = sites_[host];
    if (site.day != day) {
        site.day = day;
        site.startsThatDay = 0;
    }
    site.startsThatDay = std::max(site.startsThatDay, starts);
}

void HostPacing::NoteSuccess(const QString& host) {
    Site& site = sites_[host];
    site.failuresInARow = 0;
    site.nextBackoff = kFirstBackoffSeconds;
}

void HostPacing::countFailure(Site& site) {
    if (++site.failuresInARow >= kFailuresBeforeHold)
        site.held = true;
}

bool HostPacing::NotePushBack(const QString& host, double retryAfterSeconds) {
    Site& site = sites_[host];
    double pause = retryAfterSeconds;
    if (pause < 0.0) {
        pause = site.nextBackoff;
        site.nextBackoff = std::min(site.nextBackoff * 2.0, kLongestBackoffSeconds);
    }
    const bool bearable = pause <= kLongestPauseSeconds;
    site.pausedUntil = std::max(site.pausedUntil, now() + std::min(pause, kLongestPauseSeconds));
    return bearable;
}

void HostPacing::NoteFailure(const QString& host) {
    countFailure(sites_[host]);
}

void HostPacing::Resume(const QString& host) {
    const auto found = sites_.find(host);
    if (found == sites_.end())
        return;
    found->held = false;
    found->failuresInARow = 0;
    found->pausedUntil = 0.0;
    found->nextBackoff = kFirstBackoffSeconds;
}

void HostPacing::ResumeAll() {
    for (auto it = sites_.begin(); it != sites_.end(); ++it)
        Resume(it.key());
}

void HostPacing::MarkThroughBrowser(const QString& host) {
    sites_[host].throughBrowser = true;
}

bool HostPacing::IsThroughBrowser(const QString& host) const {
    const auto it = sites_.constFind(host);
    return it != sites_.constEnd() && it->throughBrowser;
}

void HostPacing::AwaitCheck(const QString& host) {
    sites_[host].awaitingCheck = true;
}

bool HostPacing::IsAwaitingCheck(const QString& host) const {
    const auto it = sites_.constFind(host);
    return it != sites_.constEnd() && it->awaitingCheck;
}

void HostPacing::EndCheck(const QString& host, bool passed) {
    Site& site = sites_[host];
    site.awaitingCheck = false;
    site.passedCheck = site.passedCheck || passed;
}

bool HostPacing::PassedCheck(const QString& host) const {
    const auto it = sites_.constFind(host);
    return it != sites_.constEnd() && it->passedCheck;
}

QString HostOfLink(const QString& link) {
    return QUrl(link.trimmed()).host().toLower();
}

double ParseRetryAfter(const QByteArray& value, const QDateTime& now) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1.0;
    bool number = false;
    const qint64 seconds = text.toLongLong(&number);
    if (number)
        return seconds < 0 ? -1.0 : double(seconds);
    // The HTTP date, in its preferred form and the two obsolete ones servers still send. The
    // day's name is left out of the reading: with a two-digit year it would not match.
    QString date = QString::fromLatin1(text).simplified();
    const qsizetype comma = date.indexOf(QLatin1Char(','));
    if (comma >= 0)
        date = date.mid(comma + 1).trimmed();
    static const char* const formats[] = {"dd MMM yyyy HH:mm:ss 'GMT'", "dd-MMM-yy HH:mm:ss 'GMT'",
                                          "ddd MMM d HH:mm:ss yyyy"};
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    for (const char* format : formats) {
        QDateTime when = english.toDateTime(date, QString::fromLatin1(format));
        if (!when.isValid())
            continue;
        when.setTimeSpec(Qt::UTC);
        // A two-digit year reads as 19yy; years before 1970 mean 20yy.
        if (when.date().year() < 1970)
            when = when.addYears(100);
        return std::max<qint64>(0, now.secsTo(when));
    }
    return -1.0;
}

QString ManyStartsQuestion(const QString& host, int startsToday) {
    return QStringLiteral("今天已经从 %1 下载了 %2 个文件。\n\n"
                          "出版社禁止系统性地批量下载文献，下载过多过快可能导致您所在机构的"
                          "访问权限被整体暂停。\n\n"
                          "是否继续下载？选择“是”继续（今天不再为该网站询问），"
                          "选择“否”停止下载。")
        .arg(host)
        .arg(startsToday);
}
