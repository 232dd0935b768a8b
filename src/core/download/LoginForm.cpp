#include "core/download/LoginForm.h"

#include "core/platform/Dom.h"

#include <QStringList>

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
