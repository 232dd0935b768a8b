#include "core/download/HostPacing.h"

#include "core/platform/Clock.h"

#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <cmath>

HostPacing::HostPacing(const Clock& clock) : clock_(clock) {}

double HostPacing::now() const {
    return clock_.elapsedSeconds();
}

void HostPacing::SetMinimumSpacing(double seconds) {
    spacing_ = std::clamp(seconds, 0.0, kLongestSpacingSeconds);
}

double HostPacing::SecondsUntilStart(const QString& host) const {
    const auto found = sites_.constFind(SiteKey(host));
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
    const auto found = sites_.constFind(SiteKey(host));
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
    Site& site = sites_[SiteKey(host)];
    site.lastStart = now();
    if (site.day != today) {
        site.day = today;
        site.startsThatDay = 0;
    }
    ++site.startsThatDay;
}

int HostPacing::StartsOn(const QString& host, const QDate& day) const {
    const auto found = sites_.constFind(SiteKey(host));
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
    Site& site = sites_[SiteKey(host)];
    if (site.day != day) {
        site.day = day;
        site.startsThatDay = 0;
    }
    site.startsThatDay = std::max(site.startsThatDay, starts);
}

void HostPacing::NoteSuccess(const QString& host) {
    ++changes_;
    Site& site = sites_[SiteKey(host)];
    site.failuresInARow = 0;
    site.nextBackoff = kFirstBackoffSeconds;
}

void HostPacing::countFailure(Site& site) {
    ++changes_;
    if (++site.failuresInARow >= kFailuresBeforeHold)
        site.held = true;
}

bool HostPacing::NotePushBack(const QString& host, double retryAfterSeconds) {
    Site& site = sites_[SiteKey(host)];
    // The back-off is the shortest pause: a server naming one second is not asked every
    // second.
    const double pause = std::max(retryAfterSeconds, site.nextBackoff);
    site.nextBackoff = std::min(site.nextBackoff * 2.0, kLongestBackoffSeconds);
    countFailure(site);
    const bool bearable = pause <= kLongestPauseSeconds;
    site.pausedUntil = std::max(site.pausedUntil, now() + std::min(pause, kLongestPauseSeconds));
    return bearable;
}

void HostPacing::NoteFailure(const QString& host) {
    countFailure(sites_[SiteKey(host)]);
}

void HostPacing::Resume(const QString& host) {
    ++changes_;
    const auto found = sites_.find(SiteKey(host));
    if (found == sites_.end())
        return;
    found->held = false;
    found->failuresInARow = 0;
    found->pausedUntil = 0.0;
    // The back-off stays where the pushing left it: a resumed site that goes on refusing is
    // asked ever more rarely, until it answers.
}

void HostPacing::ResumeAll() {
    for (auto it = sites_.begin(); it != sites_.end(); ++it)
        Resume(it.key());
}

void HostPacing::MarkThroughBrowser(const QString& host) {
    ++changes_;
    sites_[SiteKey(host)].throughBrowser = true;
}

bool HostPacing::IsThroughBrowser(const QString& host) const {
    const auto it = sites_.constFind(SiteKey(host));
    return it != sites_.constEnd() && it->throughBrowser;
}

void HostPacing::AwaitCheck(const QString& host) {
    sites_[SiteKey(host)].awaitingCheck = true;
}

bool HostPacing::IsAwaitingCheck(const QString& host) const {
    const auto it = sites_.constFind(SiteKey(host));
    return it != sites_.constEnd() && it->awaitingCheck;
}

void HostPacing::EndCheck(const QString& host, bool passed) {
    Site& site = sites_[SiteKey(host)];
    site.awaitingCheck = false;
    site.passedCheck = site.passedCheck || passed;
}

bool HostPacing::PassedCheck(const QString& host) const {
    const auto it = sites_.constFind(SiteKey(host));
    return it != sites_.constEnd() && it->passedCheck;
}

void HostPacing::GoOnToday(const QString& host, const QDate& today) {
    ++changes_;
    sites_[SiteKey(host)].goOnDay = today;
}

bool HostPacing::GoesOnToday(const QString& host, const QDate& today) const {
    const auto it = sites_.constFind(SiteKey(host));
    return it != sites_.constEnd() && it->goOnDay == today;
}

// One site per entry: "key|pause end (UTC ms)|next back-off|failures|held|browser|day".
QString HostPacing::SavedState(const QDateTime& wallNow) const {
    QStringList entries;
    const double current = now();
    for (auto it = sites_.constBegin(); it != sites_.constEnd(); ++it) {
        const Site& site = *it;
        const double left = site.pausedUntil - current;
        const bool paused = left > 0.0;
        if (!paused && !site.held && site.failuresInARow == 0 && !site.throughBrowser &&
            !site.goOnDay.isValid())
            continue;
        const qint64 end =
            paused ? wallNow.toMSecsSinceEpoch() + qint64(std::ceil(left * 1000)) : 0;
        entries.append(QStringList{
            it.key(), QString::number(end), QString::number(site.nextBackoff),
            QString::number(site.failuresInARow), QString::number(int(site.held)),
            QString::number(int(site.throughBrowser)), site.goOnDay.toString(Qt::ISODate)}
                           .join(QLatin1Char('|')));
    }
    entries.sort();
    return entries.join(QLatin1Char(';'));
}

// Kept state only ever adds to this run's: a restart must not shorten a pause or lift a hold.
void HostPacing::RestoreState(const QString& saved, const QDateTime& wallNow) {
    ++changes_;
    const double current = now();
    for (const QString& entry : saved.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList fields = entry.split(QLatin1Char('|'));
        if (fields.size() < 7 || SiteKey(fields[0]).isEmpty())
            continue;
        Site& site = sites_[SiteKey(fields[0])];
        const qint64 end = fields[1].toLongLong();
        if (end > 0) {
            const double left = double(end - wallNow.toMSecsSinceEpoch()) / 1000.0;
            // A clock set back must not stretch a pause past the longest a site may ask for.
            if (left > 0.0)
                site.pausedUntil =
                    std::max(site.pausedUntil, current + std::min(left, kLongestPauseSeconds));
        }
        const double backoff = fields[2].toDouble();
        if (backoff > site.nextBackoff)
            site.nextBackoff = std::min(backoff, kLongestBackoffSeconds);
        site.failuresInARow = std::max(site.failuresInARow, fields[3].toInt());
        site.held = site.held || fields[4] == QLatin1String("1");
        site.throughBrowser = site.throughBrowser || fields[5] == QLatin1String("1");
        const QDate day = QDate::fromString(fields[6], Qt::ISODate);
        if (day.isValid() && (!site.goOnDay.isValid() || day > site.goOnDay))
            site.goOnDay = day;
    }
}

QString SiteKey(const QString& host) {
    QString key = host.trimmed().toLower();
    while (key.endsWith(QLatin1Char('.')))
        key.chop(1);
    if (key.startsWith(QLatin1String("www.")) && key.size() > 4)
        key.remove(0, 4);
    return key;
}

QString HostOfLink(const QString& link) {
    return SiteKey(QUrl(link.trimmed()).host());
}

QDateTime ParseHttpDate(const QByteArray& value) {
    // The day's name is left out of the reading: with a two-digit year it would not match.
    QString date = QString::fromLatin1(value).simplified();
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
        return when;
    }
    return {};
}

namespace {

// "Wed" or "Wednesday": the part before the comma of an HTTP date.
bool isDayName(const QByteArray& text) {
    return text.size() >= 3 &&
           std::all_of(text.begin(), text.end(), [](char c) { return QChar::isLetter(c); });
}

} // namespace

double ParseRetryAfter(const QByteArray& value, const QDateTime& answerTime) {
    // Two headers arrive joined by commas, and a date carries a comma of its own.
    const QList<QByteArray> parts = value.split(',');
    double largest = -1.0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        if (part.isEmpty())
            continue;
        double asked = -1.0;
        bool number = false;
        const qint64 seconds = part.toLongLong(&number);
        if (number) {
            asked = double(seconds);
        } else {
            QByteArray date = part;
            if (isDayName(part) && i + 1 < parts.size())
                date = part + ", " + parts[++i].trimmed();
            const QDateTime when = ParseHttpDate(date);
            if (when.isValid())
                asked = double(answerTime.secsTo(when));
        }
        if (asked >= 1.0)
            largest = std::max(largest, asked);
    }
    return largest;
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
