#include "core/download/LoginForm.h"

#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/platform/Dom.h"

#include <QStringList>
#include <QUrl>

namespace {

const QString kPlainHttpSection = QStringLiteral("明文登录");

struct Site {
    QString scheme;
    QString host;
    int port = -1;
    bool operator==(const Site&) const = default;
};

// Scheme, host and port of an http or https address; nullopt for anything else.
std::optional<Site> siteOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("http")    ? 80
                            : scheme == QLatin1String("https") ? 443
                                                               : -1;
    if (!url.isValid() || defaultPort < 0 || url.host().isEmpty())
        return std::nullopt;
    return Site{scheme, url.host().toLower(), url.port(defaultPort)};
}

std::optional<Site> loginSiteOf(const QString& loginAddress) {
    // The panel opens the address as the browser takes what a user types.
    return siteOf(QUrl::fromUserInput(loginAddress.trimmed()));
}

// Settings keys may not hold "/" or "\" (they separate groups), so the address is stored
// percent-encoded.
QString choiceKey(const QString& loginAddress) {
    return QString::fromLatin1(QUrl::toPercentEncoding(loginAddress.trimmed()));
}

QString siteText(const QString& address) {
    const QUrl url = QUrl::fromUserInput(address.trimmed());
    const QString text = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                      QUrl::RemoveFragment)
                             .toString();
    return text.isEmpty() ? address.trimmed().left(80) : text;
}

} // namespace

bool IsAccountFieldName(const QString& name) {
    static const QStringList names{QStringLiteral("userid"), QStringLiteral("user"),
                                   QStringLiteral("username"), QStringLiteral("useruid")};
    return names.contains(name.toLower());
}

bool IsPasswordFieldName(const QString& name) {
    static const QStringList names{QStringLiteral("pass"), QStringLiteral("password"),
                                   QStringLiteral("passwd")};
    return names.contains(name.toLower());
}

AccountLoginPlan PlanAccountLogin(const Dom& document) {
    AccountLoginPlan plan;
    const DomCollection inputs = document.getElementsByTagName(QStringLiteral("INPUT"));
    int filled = 0;
    for (int i = 0; i < inputs.length(); ++i) {
        const DomElement& input = inputs.item(i);
        const int element = inputs.indexOf(i);
        if (IsAccountFieldName(input.name)) {
            ++filled;
            plan.fills.push_back({element, LoginField::Account});
        }
        if (IsPasswordFieldName(input.name)) {
            ++filled;
            plan.fills.push_back({element, LoginField::Password});
        }
        if (input.type.toLower() == QLatin1String("submit") && filled > 1) {
            plan.submit = element;
            break;
        }
    }
    return plan;
}

int AddressRangeLoginButton(const Dom& document) {
    const int element = document.getElementById(QStringLiteral("submitip"));
    return document.at(element).tagName == QLatin1String("INPUT") ? element : -1;
}

LoginFillCheck CheckLoginAddress(const QString& loginAddress, bool accountLogin,
                                 std::optional<bool> plainHttpChoice) {
    const std::optional<Site> site = loginSiteOf(loginAddress);
    if (!site)
        return LoginFillCheck::NoWebLoginAddress;
    if (!accountLogin || site->scheme == QLatin1String("https"))
        return LoginFillCheck::Fill;
    if (!plainHttpChoice)
        return LoginFillCheck::PlainHttpUnanswered;
    return *plainHttpChoice ? LoginFillCheck::Fill : LoginFillCheck::PlainHttpRefused;
}

LoginFillCheck CheckLoginPage(const QString& loginAddress, const QString& pageAddress) {
    const std::optional<Site> login = loginSiteOf(loginAddress);
    const std::optional<Site> page = siteOf(QUrl(pageAddress));
    return login && page && *login == *page ? LoginFillCheck::Fill : LoginFillCheck::OtherSite;
}

QString LoginFillRefusal(LoginFillCheck check, const QString& loginAddress,
                         const QString& pageAddress) {
    switch (check) {
    case LoginFillCheck::Fill:
        break;
    case LoginFillCheck::NoWebLoginAddress:
        return QStringLiteral("未登录：登录网址不是 http 或 https 网址");
    case LoginFillCheck::PlainHttpUnanswered:
        return QStringLiteral("未登录：登录网址使用 http，请先点“测试登录”确认是否以明文发送密码");
    case LoginFillCheck::PlainHttpRefused:
        return QStringLiteral("未登录：已选择不以明文(http)发送密码，请改用 https 登录网址");
    case LoginFillCheck::OtherSite:
        return QStringLiteral("未填写帐号：显示的网页（%1）不是登录网址的网站（%2）")
            .arg(siteText(pageAddress), siteText(loginAddress));
    }
    return {};
}

QString PlainHttpLoginQuestion(const QString& loginAddress) {
    return QStringLiteral("登录网址“%1”使用 http，帐号和密码将以明文发送，网络途中的任何人都能"
                          "看到。\n\n是否仍然向此网址发送密码？（此选择将被记住）")
        .arg(loginAddress.trimmed());
}

std::optional<bool> PlainHttpLoginChoice(const SettingsStore& settings,
                                         const QString& loginAddress) {
    const QString stored = settings.GetSetting(kApplicationTitle, kPlainHttpSection,
                                               choiceKey(loginAddress), QString());
    if (stored == QLatin1String("1"))
        return true;
    if (stored == QLatin1String("0"))
        return false;
    return std::nullopt;
}

void SetPlainHttpLoginChoice(SettingsStore& settings, const QString& loginAddress, bool send) {
    settings.SaveSetting(kApplicationTitle, kPlainHttpSection, choiceKey(loginAddress),
                         send ? QStringLiteral("1") : QStringLiteral("0"));
}
