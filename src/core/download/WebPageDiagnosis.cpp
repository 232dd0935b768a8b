#include "core/download/WebPageDiagnosis.h"

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"

#include <QFile>

#include <QRegularExpression>
#include <QUrl>

#include <initializer_list>

namespace {

bool containsAny(const QByteArray& lowerText, std::initializer_list<const char*> needles) {
    for (const char* needle : needles) {
        if (lowerText.contains(needle))
            return true;
    }
    return false;
}

QByteArray titleOf(const QByteArray& lowerText) {
    const qsizetype open = lowerText.indexOf("<title");
    if (open < 0)
        return {};
    const qsizetype start = lowerText.indexOf('>', open);
    const qsizetype end = lowerText.indexOf("</title", start);
    if (start < 0 || end < 0)
        return {};
    return lowerText.mid(start + 1, end - start - 1).trimmed();
}

bool onGateway(const QString& finalUrl, const QString& loginAddress) {
    const QUrl gateway(loginAddress.trimmed());
    const QUrl reached(finalUrl);
    return !gateway.host().isEmpty() &&
           gateway.host().compare(reached.host(), Qt::CaseInsensitive) == 0;
}

bool hasPasswordField(const QByteArray& lowerText) {
    static const QRegularExpression field(
        QStringLiteral(R"(<input\b[^>]*\btype\s*=\s*["']?password\b)"));
    return field.match(QString::fromLatin1(lowerText)).hasMatch();
}

bool isBotCheck(const ReceivedPage& page, const QByteArray& lowerText, const QByteArray& title) {
    return page.cfMitigated.trimmed().toLower() == "challenge" ||
           containsAny(lowerText, {"/cdn-cgi/challenge-platform/", "cf-chl-", "challenge-form"}) ||
           title == "just a moment..." || title == "just a moment" ||
           containsAny(title, {"attention required", "checking your browser"});
}

} // namespace

WebPageKind DiagnoseWebPage(const ReceivedPage& page, const QString& loginAddress) {
    const QByteArray text = page.head.left(kWebPageHeadBytes).toLower();
    const QByteArray title = titleOf(text);

    // First: a challenge often comes with status 403 or 503, which would read as a refusal.
    if (isBotCheck(page, text, title))
        return WebPageKind::BotCheck;

    if (page.status == 404 || page.status == 410)
        return WebPageKind::NotFound;

    // The publisher's push-back outranks a sign-in form the same page may carry: logging in
    // again would not lift it.
    if (page.status == 429 || containsAny(text, {"excessive", "suspended", "too many requests",
                                                 "rate limit", "systematic download"}))
        return WebPageKind::Refusal;

    if (hasPasswordField(text) || onGateway(page.finalUrl, loginAddress))
        return WebPageKind::LoginWall;

    if (page.status == 403 || text.contains("access denied"))
        return WebPageKind::Refusal;

    if (containsAny(title, {"not found", "404", "找不到"}))
        return WebPageKind::NotFound;
    return WebPageKind::Other;
}

CheckJudge BotCheckJudge() {
    // The diagnosis's first rule alone: it runs on a transfer's disk thread, and a bot check
    // outranks every other kind.
    return [](const QString& bodyPath, const CommitRule& answer) {
        const ReceivedPage page{answer.status, answer.cfMitigated, answer.finalUrl,
                                ReadWebPageHead(bodyPath)};
        const QByteArray text = page.head.toLower();
        return isBotCheck(page, text, titleOf(text));
    };
}

QString WebPageKindText(WebPageKind kind) {
    switch (kind) {
    case WebPageKind::LoginWall:
        return QStringLiteral("收到登录页面而不是文件：需要登录");
    case WebPageKind::BotCheck:
        return QStringLiteral("收到网站验证页面而不是文件：请在浏览器中完成验证");
    case WebPageKind::Refusal:
        return QStringLiteral("网站拒绝访问或限制下载频率");
    case WebPageKind::NotFound:
        return QStringLiteral("网站上没有这个文件");
    case WebPageKind::Other:
        break;
    }
    return QStringLiteral("收到网页而不是文件");
}

QByteArray ReadWebPageHead(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kWebPageHeadBytes);
}

std::optional<WebPageKind> RowWebPageKind(const KeyedListModel& list, int position) {
    bool ok = false;
    const int stored = list.HiddenValue(position, DownloadHidden::WebPage).toInt(&ok);
    if (!ok || stored < 1 || stored > int(WebPageKind::Other) + 1)
        return std::nullopt;
    return static_cast<WebPageKind>(stored - 1);
}

void SetRowWebPageKind(KeyedListModel& list, int position, std::optional<WebPageKind> kind) {
    list.SetHiddenValue(position, DownloadHidden::WebPage,
                        kind ? QString::number(int(*kind) + 1) : QString());
}

QString StatusCountsWithPagesText(const KeyedListModel& list) {
    DownloadStateCounts counts = CountDownloadStates(list);
    int pages = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (!RowWebPageKind(list, position))
            continue;
        // A gateway page arrives whole and would otherwise count as a completed file.
        const int state = list.SmallIcon(position);
        if (state == ItemState::Completed)
            --counts.completed;
        else if (state == ItemState::Failed)
            --counts.failed;
        else
            continue;
        ++pages;
    }
    QString text = StatusCountsText(counts);
    if (pages > 0)
        text += QStringLiteral("|网页：%1").arg(pages);
    return text;
}
