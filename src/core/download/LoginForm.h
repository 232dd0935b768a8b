#pragma once

#include <QString>

#include <optional>
#include <vector>

class Dom;
class SettingsStore;

// How a gateway's login form is filled in. Gateways differ, so only a few widely used input
// names and the submit button are relied on; the browser side (fFileDownload::FillLoginForm)
// carries the plan out on the shown page.

enum class LoginField { Account, Password };

struct LoginFormFill {
    int element = -1; // index in the Dom the plan was made from
    LoginField field = LoginField::Account;
};

struct AccountLoginPlan {
    // The inputs to write, in document order.
    std::vector<LoginFormFill> fills;
    // The one submit button to press, -1 when the form is not to be sent.
    int submit = -1;
};

// Input names that take the account ("userid", "user", "username", "useruid") and the
// password ("pass", "password", "passwd"), in any letter case.
bool IsAccountFieldName(const QString& name);
bool IsPasswordFieldName(const QString& name);

// Walks the document's INPUT elements in order, counting each account or password field it
// fills; the first submit input met once two fields are filled is the button, and nothing
// after it is filled. A submit met earlier (before the password, say) is passed over.
AccountLoginPlan PlanAccountLogin(const Dom& document);

// The address-range login's button: the INPUT with the id "submitip", -1 when there is none.
int AddressRangeLoginButton(const Dom& document);

// Whose page the panel may fill. The account goes only to the login address's own site
// (scheme, host and port all equal), never to a page a redirect or a followed link brought;
// and over plain http only when the user has said once, for that address, that the password
// may travel unencrypted.
enum class LoginFillCheck {
    Fill,
    NoWebLoginAddress,   // the login address is no http or https address
    PlainHttpUnanswered, // an account login over http that the user has not been asked about
    PlainHttpRefused,    // the user said the password must not travel unencrypted
    OtherSite,           // the page shown is not the login address's site
};

// Before the login page is opened. The login address is taken as a user types it
// ("gateway.org/login" is an http address); `plainHttpChoice` is the user's stored answer
// for it (PlainHttpLoginChoice). An address-range login sends no password and needs no answer.
LoginFillCheck CheckLoginAddress(const QString& loginAddress, bool accountLogin,
                                 std::optional<bool> plainHttpChoice);

// After it has loaded: Fill when the page's address (as the browser reports it) has the
// login address's scheme, host and port, the schemes' own ports standing for no port;
// OtherSite otherwise.
LoginFillCheck CheckLoginPage(const QString& loginAddress, const QString& pageAddress);

// What the panel's status says when the check is not Fill; "" for Fill.
QString LoginFillRefusal(LoginFillCheck check, const QString& loginAddress,
                         const QString& pageAddress = {});

// The question asked once per http login address before its password is sent.
QString PlainHttpLoginQuestion(const QString& loginAddress);

// The user's answer for the login address (trimmed, as typed), kept in the settings store
// under "明文登录"; nullopt when never asked. Only the answer is stored, never the account
// or the password.
std::optional<bool> PlainHttpLoginChoice(const SettingsStore& settings,
                                         const QString& loginAddress);
void SetPlainHttpLoginChoice(SettingsStore& settings, const QString& loginAddress, bool send);
