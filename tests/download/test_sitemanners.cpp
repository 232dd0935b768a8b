#include "FakeClock.h"
#include "TestEnvironment.h"

#include "core/download/HostPacing.h"
#include "core/download/WebPageDiagnosis.h"

#include <QTest>

// What a page brought instead of a file is, and how a site that pushes back is left alone.
class SiteMannersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aPageIsToldApartByWhatItSays_data();
    void aPageIsToldApartByWhatItSays();
    void retryAfterIsReadAsSecondsOrDate_data();
    void retryAfterIsReadAsSecondsOrDate();
    void oneSiteHasOneKey_data();
    void oneSiteHasOneKey();
    void aSiteIsSpacedPausedAndHeldAlone_data();
    void aSiteIsSpacedPausedAndHeldAlone();
    void startsAreCountedPerDay();
};

void SiteMannersTest::aPageIsToldApartByWhatItSays_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("cfMitigated");
    QTest::addColumn<QString>("finalUrl");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("kind");

    const QByteArray form = "<form><input name=u><INPUT type='password' name=p></form>";
    QTest::newRow("challenge header on a 403")
        << 403 << QByteArray("challenge") << "https://s.org/doi/pdf/1" << QByteArray("<html>")
        << int(WebPageKind::BotCheck);
    QTest::newRow("interstitial title")
        << 200 << QByteArray() << "https://s.org/x" << QByteArray("<title>Just a moment...</title>")
        << int(WebPageKind::BotCheck);
    QTest::newRow("challenge script")
        << 503 << QByteArray() << "https://s.org/x"
        << QByteArray("<script src=/cdn-cgi/challenge-platform/h>") << int(WebPageKind::BotCheck);
    QTest::newRow("suspension page with a login form")
        << 200 << QByteArray() << "https://s.org/x"
        << QByteArray("Access suspended for excessive downloading") + form
        << int(WebPageKind::Refusal);
    QTest::newRow("429") << 429 << QByteArray() << "https://s.org/x" << QByteArray("<p>slow")
                         << int(WebPageKind::Refusal);
    QTest::newRow("403 access denied")
        << 403 << QByteArray() << "https://s.org/x" << QByteArray("<h1>Access Denied</h1>")
        << int(WebPageKind::Refusal);
    QTest::newRow("password form past the first 10 KB")
        << 200 << QByteArray() << "https://s.org/x" << QByteArray(20000, ' ') + form
        << int(WebPageKind::LoginWall);
    QTest::newRow("redirected to the gateway")
        << 200 << QByteArray() << "https://LOGIN.example.edu/sso?x=1"
        << QByteArray("<p>Redirecting") << int(WebPageKind::LoginWall);
    QTest::newRow("404") << 404 << QByteArray() << "https://s.org/x" << form
                         << int(WebPageKind::NotFound);
    QTest::newRow("not-found title on a 200")
        << 200 << QByteArray() << "https://s.org/x"
        << QByteArray("<title>Page Not Found | Science</title>") << int(WebPageKind::NotFound);
    QTest::newRow("an article's abstract page")
        << 200 << QByteArray() << "https://s.org/doi/10.1/abc"
        << QByteArray("<title>A result</title><p>Abstract") << int(WebPageKind::Other);
}

void SiteMannersTest::aPageIsToldApartByWhatItSays() {
    QFETCH(int, status);
    QFETCH(QByteArray, cfMitigated);
    QFETCH(QString, finalUrl);
    QFETCH(QByteArray, head);
    QFETCH(int, kind);
    const ReceivedPage page{status, cfMitigated, finalUrl, head};
    QCOMPARE(int(DiagnoseWebPage(page, QStringLiteral("https://login.example.edu/"))), kind);
}

void SiteMannersTest::retryAfterIsReadAsSecondsOrDate_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("answerDate");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("pause"); // what a site's first push-back with this value pauses
    // Negative: no usable value, so the back-off's first pause.
    QTest::newRow("zero") << QByteArray("0") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("below a second") << QByteArray("0.5") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("date in the past")
        << QByteArray("Wed, 09 Dec 2026 12:00:00 GMT") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("too large for 64 bits")
        << QByteArray("99999999999999999999") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("negative") << QByteArray("-3") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("text") << QByteArray("soon") << QByteArray() << -1.0 << 10.0;
    QTest::newRow("empty") << QByteArray() << QByteArray() << -1.0 << 10.0;
    QTest::newRow("one second is no licence") << QByteArray("1") << QByteArray() << 1.0 << 10.0;
    QTest::newRow("seconds") << QByteArray(" 45 ") << QByteArray() << 45.0 << 45.0;
    QTest::newRow("repeated: the largest")
        << QByteArray("30, 0, Thu, 10 Dec 2026 12:02:00 GMT, soon") << QByteArray() << 120.0
        << 120.0;
    QTest::newRow("future date") << QByteArray("Thu, 10 Dec 2026 12:02:00 GMT") << QByteArray()
                                 << 120.0 << 120.0;
    QTest::newRow("obsolete date")
        << QByteArray("Thursday, 10-Dec-26 12:00:30 GMT") << QByteArray() << 30.0 << 30.0;
    // The local clock runs five minutes fast: the answer's own Date still gives two minutes.
    QTest::newRow("date against the answer's Date")
        << QByteArray("Thu, 10 Dec 2026 11:57:00 GMT")
        << QByteArray("Thu, 10 Dec 2026 11:55:00 GMT") << 120.0 << 120.0;
    QTest::newRow("huge: an hour, and the row fails")
        << QByteArray("86400") << QByteArray() << 86400.0 << 3600.0;
}

void SiteMannersTest::retryAfterIsReadAsSecondsOrDate() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, answerDate);
    QFETCH(double, seconds);
    QFETCH(double, pause);
    const QDateTime now(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);
    const QDateTime answerTime = answerDate.isEmpty() ? now : ParseHttpDate(answerDate);
    QCOMPARE(ParseRetryAfter(value, answerTime), seconds);
    FakeClock clock;
    HostPacing pacing(clock);
    QCOMPARE(pacing.NotePushBack("a", seconds), seconds <= 3600);
    QCOMPARE(pacing.SecondsUntilStart("a"), pause);
}

void SiteMannersTest::oneSiteHasOneKey_data() {
    QTest::addColumn<QString>("spelling");
    QTest::addColumn<bool>("same");
    QTest::newRow("another site") << "science.org.cn" << false;
    QTest::newRow("another subdomain") << "pubs.science.org" << false;
    QTest::newRow("letter case, a trailing dot, www.") << "WWW.Science.ORG." << true;
}

// Spacing, push-back and the day's count of one spelling hold for the other.
void SiteMannersTest::oneSiteHasOneKey() {
    QFETCH(QString, spelling);
    QFETCH(bool, same);
    FakeClock clock;
    HostPacing pacing(clock);
    const QDate today(2026, 12, 10);
    pacing.NoteStart(HostOfLink("https://www.science.org/doi/pdf/1"), today);
    QCOMPARE(pacing.StartsOn(spelling, today), same ? 1 : 0);
    clock.advance(5);
    pacing.NotePushBack(spelling, -1);
    QCOMPARE(pacing.SecondsUntilStart("science.org") > 0, same);
    QCOMPARE(HostOfLink(QStringLiteral("https://%1/x").arg(spelling)) == "science.org", same);
}

// Each row is a script of events on site "a" with a fake clock; site "b" must never wait.
// Events: "start", "ok", "fail", "push:N" (Retry-After N s, -1 for none), "wait:N" (the clock
// moves), "resume". `expected` is SecondsUntilStart("a") after the script.
void SiteMannersTest::aSiteIsSpacedPausedAndHeldAlone_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("bearable"); // what the last push-back answered

    QTest::newRow("spacing after a start") << QStringList{"start", "wait:0.25"} << 0.75 << true;
    QTest::newRow("spacing over") << QStringList{"start", "wait:1"} << 0.0 << true;
    QTest::newRow("Retry-After honoured") << QStringList{"push:30", "wait:2"} << 28.0 << true;
    QTest::newRow("Retry-After shorter than the back-off")
        << QStringList{"push:-1", "wait:10", "push:5"} << 20.0 << true;
    QTest::newRow("no header: 10 s") << QStringList{"push:-1"} << 10.0 << true;
    QTest::newRow("no header again: doubled")
        << QStringList{"push:-1", "wait:10", "push:-1"} << 20.0 << true;
    QTest::newRow("doubling stops at 10 minutes, also past a resume")
        << (QStringList{"push:-1", "wait:700"} + QStringList{"push:-1", "wait:700"} +
            QStringList{"push:-1", "wait:700"} + QStringList{"push:-1", "wait:700"} +
            QStringList{"push:-1", "wait:700", "resume"} + QStringList{"push:-1", "wait:700"} +
            QStringList{"push:-1"})
        << 600.0 << true;
    QTest::newRow("success resets the doubling")
        << QStringList{"push:-1", "ok", "push:-1"} << 10.0 << true;
    QTest::newRow("over an hour: capped and refused")
        << QStringList{"push:7200"} << 3600.0 << false;
    QTest::newRow("five failures in a row hold the site")
        << QStringList{"fail", "fail", "fail", "push:1", "fail", "fail", "wait:3600"} << -1.0
        << true;
    QTest::newRow("five push-backs in a row hold the site")
        << QStringList{"push:1",  "wait:10", "push:1",  "wait:20", "push:1",
                       "wait:40", "push:1",  "wait:80", "push:1",  "wait:3600"}
        << -1.0 << true;
    QTest::newRow("push-backs and failures count together")
        << QStringList{"push:-1", "fail", "push:-1", "fail", "fail", "wait:3600"} << -1.0 << true;
    QTest::newRow("four and a success do not")
        << QStringList{"push:-1", "fail", "push:-1", "fail", "ok", "push:-1"} << 20.0 << true;
    QTest::newRow("a success in between does not")
        << QStringList{"fail", "fail", "fail", "fail", "ok", "fail"} << 0.0 << true;
    QTest::newRow("resumed by the user")
        << QStringList{"fail", "fail", "fail", "fail", "fail", "resume"} << 0.0 << true;
}

void SiteMannersTest::aSiteIsSpacedPausedAndHeldAlone() {
    QFETCH(QStringList, events);
    QFETCH(double, expected);
    QFETCH(bool, bearable);
    FakeClock clock;
    HostPacing pacing(clock);
    bool lastBearable = true;
    for (const QString& event : events) {
        const QString argument = event.section(':', 1);
        if (event == "start")
            pacing.NoteStart("a", QDate(2026, 12, 10));
        else if (event == "ok")
            pacing.NoteSuccess("a");
        else if (event == "fail")
            pacing.NoteFailure("a");
        else if (event == "resume")
            pacing.Resume("a");
        else if (event.startsWith("push:"))
            lastBearable = pacing.NotePushBack("a", argument.toDouble());
        else if (event.startsWith("wait:"))
            clock.advance(argument.toDouble());
    }
    QCOMPARE(pacing.SecondsUntilStart("a"), expected);
    QCOMPARE(pacing.IsHeld("a"), expected < 0);
    QCOMPARE(lastBearable, bearable);
    QCOMPARE(pacing.SecondsUntilStart("b"), 0.0);
}

void SiteMannersTest::startsAreCountedPerDay() {
    FakeClock clock;
    HostPacing pacing(clock);
    pacing.SetMinimumSpacing(0);
    const QDate today(2026, 12, 10);
    for (int i = 0; i < HostPacing::kStartsBeforeQuestion; ++i)
        pacing.NoteStart("a", today);
    pacing.NoteStart("b", today);
    QCOMPARE(pacing.StartsOn("a", today), 200);
    QCOMPARE(pacing.StartsOn("b", today), 1);
    pacing.NoteStart("a", today.addDays(1));
    QCOMPARE(pacing.StartsOn("a", today.addDays(1)), 1);
    QCOMPARE(pacing.StartsOn("a", today), 0);
    QCOMPARE(pacing.SecondsUntilStart("a"), 0.0);
}

QF_TEST_GUILESS_MAIN(SiteMannersTest)
#include "test_sitemanners.moc"
