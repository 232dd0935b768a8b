#pragma once

#include <QString>

#include <vector>

class Dom;

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
