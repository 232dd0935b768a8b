#include "TestEnvironment.h"

#include "core/download/LoginForm.h"
#include "core/platform/Dom.h"

// Which inputs of a gateway's page the login fills and which button it presses, on documents
// built by hand. Each input is written as "name:type"; the expected plan as the element
// indices with "u" (account) or "p" (password), and the button's index or -1.
class LoginFormTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void whatIsFilledAndPressed_data();
    void whatIsFilledAndPressed();
    void theAddressRangeButtonIsTheSubmitipInput_data();
    void theAddressRangeButtonIsTheSubmitipInput();

private:
    // `submitip`: the name of the element that carries the id "submitip".
    static Dom inputs(const QStringList& specs, const QString& submitip = {});
};

Dom LoginFormTest::inputs(const QStringList& specs, const QString& submitip) {
    Dom dom;
    DomElement formElement;
    formElement.tagName = QStringLiteral("FORM");
    const int form = dom.append(-1, formElement);
    for (const QString& spec : specs) {
        const QStringList parts = spec.split(':');
        DomElement input;
        input.tagName = parts.value(2, QStringLiteral("INPUT"));
        input.name = parts.value(0);
        input.type = parts.value(1);
        if (!submitip.isEmpty() && input.name == submitip)
            input.id = QStringLiteral("submitip");
        if (dom.append(form, input) < 0)
            qFatal("bad test document");
    }
    return dom;
}

void LoginFormTest::whatIsFilledAndPressed_data() {
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QStringList>("fills");
    QTest::addColumn<int>("submit");

    // Element 0 is the form; the inputs count from 1.
    QTest::newRow("does a plain form get both fields and its button?")
        << QStringList{"user:text", "password:password", "go:submit"} << QStringList{"1u", "2p"}
        << 3;
    QTest::newRow("are names in mixed letter case taken?")
        << QStringList{"UserName:text", "PassWord:password", ":SUBMIT"} << QStringList{"1u", "2p"}
        << 3;
    QTest::newRow("are userid, useruid, pass and passwd taken?")
        << QStringList{"USERID:text", "passwd:password", "UserUid:text", "Pass:password", ":submit"}
        << QStringList{"1u", "2p", "3u", "4p"} << 5;
    QTest::newRow("is a field with another name left alone?")
        << QStringList{"email:text", "user:text", "pwd:password", "password:password", ":submit"}
        << QStringList{"2u", "4p"} << 5;
    QTest::newRow("is a button before the password passed over, with nothing sent?")
        << QStringList{"user:text", "early:submit", "password:password"} << QStringList{"1u", "3p"}
        << -1;
    QTest::newRow("is the first button after the password the one pressed?")
        << QStringList{"user:text", "early:submit", "password:password", "late:submit",
                       "later:submit"}
        << QStringList{"1u", "3p"} << 4;
    QTest::newRow("are fields after the pressed button left empty?")
        << QStringList{"user:text", "password:password", "go:submit", "pass:password"}
        << QStringList{"1u", "2p"} << 3;
    QTest::newRow("do two account fields count as two?")
        << QStringList{"user:text", "username:text", "go:submit", "password:password"}
        << QStringList{"1u", "2u"} << 3;
    QTest::newRow("is a button that is no submit input never pressed?")
        << QStringList{"user:text", "password:password", "go:button", "go2:image"}
        << QStringList{"1u", "2p"} << -1;
    QTest::newRow("is a submit BUTTON element not taken for an input?")
        << QStringList{"user:text", "password:password", "go:submit:BUTTON"}
        << QStringList{"1u", "2p"} << -1;
    QTest::newRow("does a page without fields give an empty plan?")
        << QStringList{":submit"} << QStringList{} << -1;
}

void LoginFormTest::whatIsFilledAndPressed() {
    QFETCH(QStringList, page);
    QFETCH(QStringList, fills);
    QFETCH(int, submit);

    const AccountLoginPlan plan = PlanAccountLogin(inputs(page));
    QStringList planned;
    for (const LoginFormFill& fill : plan.fills)
        planned << QString::number(fill.element) + (fill.field == LoginField::Account ? "u" : "p");
    QCOMPARE(planned, fills);
    QCOMPARE(plan.submit, submit);
}

void LoginFormTest::theAddressRangeButtonIsTheSubmitipInput_data() {
    QTest::addColumn<QStringList>("page");
    QTest::addColumn<QString>("idOf");
    QTest::addColumn<int>("button");
    QTest::newRow("an input with the id") << QStringList{"a:text", "b:submit"} << "b" << 2;
    QTest::newRow("no element with the id") << QStringList{"a:text", "b:submit"} << "" << -1;
    QTest::newRow("the id on a BUTTON element")
        << QStringList{"a:text", "b:submit:BUTTON"} << "b" << -1;
}

void LoginFormTest::theAddressRangeButtonIsTheSubmitipInput() {
    QFETCH(QStringList, page);
    QFETCH(QString, idOf);
    QFETCH(int, button);
    QCOMPARE(AddressRangeLoginButton(inputs(page, idOf)), button);
}

QF_TEST_GUILESS_MAIN(LoginFormTest)
#include "test_loginform.moc"
