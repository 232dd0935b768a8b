#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/WebAddress.h"
#include "core/download/DownloadList.h"
#include "core/download/LoginForm.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/Dom.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "ui/app/Forms.h"
#include "ui/platform/KeyedListView.h"
#include "ui/platform/WebBrowser.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>
#include <optional>

namespace {

const QString kNoLoginAddress = QStringLiteral("必须先设置登录网址！");
const QString kNoLoginAccount = QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");
const QString kBlankPage = QStringLiteral("about:blank");
// The gateway and the account name are kept between runs; the password never is.
constexpr SettingKey kLoginAddressKey{"网页登录", "登录网址", "", SettingFormat::Text};
constexpr SettingKey kLoginAccountKey{"网页登录", "登录帐号", "", SettingFormat::Text};
constexpr int kReloadIntervalMs = 60000;
// How long the panel waits for a page or for the answer to a login, in seconds.
constexpr double kPageWaitSeconds = 10.0;
// The pause after a login, so the gateway's own follow-up pages can settle.
constexpr double kSettleSeconds = 5.0;
// 40 twips between the browser and the panel's right and bottom edges.
constexpr int kBrowserInsetPx = 3;

double elapsedSeconds() {
    static SystemClock fallback;
    const Clock* clock = Services().clock;
    return clock ? clock->elapsedSeconds() : fallback.elapsedSeconds();
}

// Waits are measured from the whole second they start in.
double startSecond() {
    return std::floor(elapsedSeconds());
}

// Runs a function whenever the watched widget moves or changes size: the list is placed by
// the window's layout, which may do so after the window's own resize handling has run (a
// hidden window lays out only when it is shown).
class GeometryFollower : public QObject {
public:
    GeometryFollower(QWidget* watched, std::function<void()> follow)
        : QObject(watched), follow_(std::move(follow)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
            follow_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> follow_;
};

} // namespace

void fFileDownload::buildLoginPanel() {
    // Command1 sits among the window's buttons (buildLayout).
    // Placed over the list by PlaceLoginPanel; it belongs to the list's own container.
    PicWebBK = new QFrame(ListView3->parentWidget());
    PicWebBK->setFrameShape(QFrame::NoFrame);
    PicWebBK->setAutoFillBackground(true);
    PicWebBK->hide();

    Label6 = new QLabel(QStringLiteral("网址："));
    Text1 = new QLineEdit;
    Option4 = new QRadioButton(QStringLiteral("帐号登录："));
    Text2 = new QLineEdit;
    Label10 = new QLabel(QStringLiteral("密码："));
    Text3 = new QLineEdit;
    Text3->setEchoMode(QLineEdit::Password);
    Option5 = new QRadioButton(QStringLiteral("IP登录"));
    Check2 = new QCheckBox(QStringLiteral("自动登录"));
    Label11 = new QLabel(QStringLiteral("自动登录条件："));
    Combo3 = new QComboBox;
    Combo3->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件"));
    Check1 = new QCheckBox(QStringLiteral("自动刷新(每分钟)"));
    Command2 = new QPushButton(QStringLiteral("浏览"));
    Command5 = new QPushButton(QStringLiteral("测试登录"));
    Command3 = new QPushButton(QStringLiteral("关闭(隐藏)"));
    Timer2 = new QTimer(this);
    Timer2->setInterval(kReloadIntervalMs);
    Web1 = new WebBrowser;
    Web1->setIgnoreBlankNewWindows(true);
    Label12 = new QLabel;

    auto* loginKind = new QButtonGroup(PicWebBK);
    loginKind->addButton(Option4);
    loginKind->addButton(Option5);
    Option4->setChecked(true);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(Label6);
    addressRow->addWidget(Text1, 1);
    addressRow->addWidget(Command2);
    addressRow->addWidget(Command5);
    addressRow->addWidget(Command3);

    auto* accountRow = new QHBoxLayout;
    accountRow->addWidget(Option4);
    accountRow->addWidget(Text2, 1);
    accountRow->addWidget(Label10);
    accountRow->addWidget(Text3, 1);
    accountRow->addSpacing(8);
    accountRow->addWidget(Option5);
    accountRow->addSpacing(8);
    accountRow->addWidget(Check2);
    accountRow->addWidget(Label11);
    accountRow->addWidget(Combo3);
    accountRow->addWidget(Check1);

    auto* controls = new QVBoxLayout;
    controls->setContentsMargins(6, 4, 6, 4);
    controls->addLayout(addressRow);
    controls->addLayout(accountRow);
    controls->addWidget(Label12);

    auto* panel = new QVBoxLayout(PicWebBK);
    panel->setContentsMargins(0, 0, kBrowserInsetPx, kBrowserInsetPx);
    panel->setSpacing(0);
    panel->addLayout(controls);
    panel->addWidget(Web1, 1);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    // Toggled rather than clicked, so a box set by the program (cleared by a failed login,
    // say) has the same effect as one set by the user.
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
    connect(Web1, &WebBrowser::DocumentComplete, this, [this] { Web1_DocumentComplete(); });
    connect(Web1, &WebBrowser::TitleChange, this,
            [this](const QString& title) { Web1_TitleChange(title); });

    new GeometryFollower(ListView3, [this] { PlaceLoginPanel(); });
}

void fFileDownload::LoginPanel_Load() {
    Combo3->setCurrentIndex(0);
    if (const SettingsStore* settings = Services().settings) {
        Text1->setText(settings->Read(kLoginAddressKey));
        Text2->setText(settings->Read(kLoginAccountKey));
    }
    Web1->setSilent(true);
    Web1->Navigate(kBlankPage);
}

void fFileDownload::LoginPanel_Unload() {
    if (SettingsStore* settings = Services().settings) {
        settings->Write(kLoginAddressKey, TrimSpaces(Text1->text()));
        settings->Write(kLoginAccountKey, TrimSpaces(Text2->text()));
    }
}

void fFileDownload::PlaceLoginPanel() {
    if (PicWebBK && PicWebBK->geometry() != ListView3->geometry())
        PicWebBK->setGeometry(ListView3->geometry());
}

bool fFileDownload::loginWindowGone(const QPointer<fFileDownload>& self) const {
    return !self || unloading_;
}

// --- the panel's commands ---

void fFileDownload::Command1_Click() {
    PlaceLoginPanel();
    PicWebBK->show();
    PicWebBK->raise();
    // With a login set up, the panel keeps the gateway's page; otherwise it shows what the
    // selected row's link answers, which is where a user finds out which gateway it wants.
    if (Check2->isChecked() || Check1->isChecked())
        return;
    const int selected = ListItems3->SelectedItem();
    if (selected == 0)
        return;
    // A "javascript:" link would run in the page shown now, which may be the gateway's.
    const QString link = ListItems3->Key(selected);
    if (IsWebAddress(link))
        Web1->Navigate(link);
    else
        Label12->setText(NotWebAddressReason(link));
}

void fFileDownload::Command2_Click() {
    // A press that arrives while the button is disabled (a page still loading) is not one.
    if (!Command2->isEnabled())
        return;
    const QString address = TrimSpaces(Text1->text());
    if (address.isEmpty())
        return;
    Forms::Hold hold(this);
    openLoginPage(address);
}

void fFileDownload::Command3_Click() {
    PicWebBK->hide();
    // The minute reload keeps a login alive only while its page stays loaded.
    if (!Check1->isChecked())
        Web1->Navigate(kBlankPage);
}

void fFileDownload::Command5_Click() {
    FillLoginForm(true);
}

void fFileDownload::Check1_Click() {
    if (Check1->isChecked())
        Timer2->start();
    else
        Timer2->stop();
}

void fFileDownload::Check2_Click() {
    if (!Check2->isChecked())
        return;
    QString missing;
    if (TrimSpaces(Text1->text()).isEmpty())
        missing = kNoLoginAddress;
    else if (Option4->isChecked() &&
             (TrimSpaces(Text2->text()).isEmpty() || TrimSpaces(Text3->text()).isEmpty()))
        missing = kNoLoginAccount;
    if (missing.isEmpty())
        return;
    Forms::Hold hold(this);
    if (Prompt* prompt = Services().prompt)
        prompt->message(this, missing, MsgIcon::Error);
    Check2->setChecked(false);
}

void fFileDownload::Timer2_Timer() {
    Web1->Refresh();
}

// --- the login ---

void fFileDownload::FillLoginForm(bool interactive) {
    const QString address = TrimSpaces(Text1->text());
    QString missing;
    if (address.isEmpty())
        missing = kNoLoginAddress;
    else if (Option4->isChecked() &&
             (TrimSpaces(Text2->text()).isEmpty() || TrimSpaces(Text3->text()).isEmpty()))
        missing = kNoLoginAccount;
    if (!missing.isEmpty()) {
        Forms::Hold hold(this);
        if (Prompt* prompt = Services().prompt; prompt && interactive)
            prompt->message(this, missing, MsgIcon::Error);
        // Automatic logins stay off until the user has completed the entries and checks the
        // box again.
        Check2->setChecked(false);
        return;
    }
    // The disabled button is the sign of a login that is running (a transfer that ends
    // during a login's waits asks for another one).
    if (!Command5->isEnabled())
        return;

    Forms::Hold hold(this);
    const QPointer<fFileDownload> self(this);
    Command5->setEnabled(false);
    Label12->clear();
    if (!loginAddressAllowed(address, interactive)) {
        if (!loginWindowGone(self))
            Command5->setEnabled(true);
        return;
    }
    if (!openLoginPage(address))
        return;

    // From here on a step that fails is passed over: a gateway page that does not fit sends
    // nothing, and the pause below still runs.
    const std::optional<Dom> document = Web1->Document({QStringLiteral("INPUT")}, {});
    if (loginWindowGone(self))
        return;
    // A redirect, or a page that moved on by itself, may show another site by now: the
    // account is typed into the login address's own site only.
    const LoginFillCheck site =
        document ? CheckLoginPage(address, document->URL) : LoginFillCheck::Fill;
    if (site != LoginFillCheck::Fill)
        Label12->setText(LoginFillRefusal(site, address, document->URL));
    if (document && site == LoginFillCheck::Fill) {
        if (Option4->isChecked()) {
            const AccountLoginPlan plan = PlanAccountLogin(*document);
            for (const LoginFormFill& fill : plan.fills) {
                // Read when written, as the user may still be typing while the page loads.
                // The value goes to the page as data, never as part of a script's text.
                const QString value =
                    TrimSpaces(fill.field == LoginField::Account ? Text2->text() : Text3->text());
                Web1->SetValue(fill.element, value);
                if (loginWindowGone(self))
                    return;
            }
            if (plan.submit >= 0 && !submitLogin(plan.submit))
                return;
        } else {
            const int button = AddressRangeLoginButton(*document);
            if (button >= 0 && !submitLogin(button))
                return;
        }
    }

    const double pauseStart = startSecond();
    while (elapsedSeconds() - pauseStart <= kSettleSeconds) {
        DoEvents();
        if (loginWindowGone(self))
            return;
    }
    Command5->setEnabled(true);
}

bool fFileDownload::loginAddressAllowed(const QString& address, bool interactive) {
    const bool account = Option4->isChecked();
    SettingsStore* settings = Services().settings;
    std::optional<bool> choice =
        settings ? PlainHttpLoginChoice(*settings, address) : std::optional<bool>();
    LoginFillCheck check = CheckLoginAddress(address, account, choice);
    // Asked only when the user pressed 测试登录: an automatic login never stops the
    // downloads for a question.
    Prompt* prompt = Services().prompt;
    if (check == LoginFillCheck::PlainHttpUnanswered && interactive && prompt) {
        const QPointer<fFileDownload> self(this);
        const bool send = prompt->message(this, PlainHttpLoginQuestion(address), MsgIcon::Question,
                                          MsgButtons::YesNo) == MsgResult::Yes;
        if (loginWindowGone(self))
            return false;
        if (settings)
            SetPlainHttpLoginChoice(*settings, address, send);
        check = CheckLoginAddress(address, account, send);
    }
    if (check == LoginFillCheck::Fill)
        return true;
    Label12->setText(LoginFillRefusal(check, address));
    return false;
}

bool fFileDownload::openLoginPage(const QString& address) {
    const QPointer<fFileDownload> self(this);
    Command2->setEnabled(false);
    const double start = startSecond();
    LoginPageLoading = true;
    Web1->Navigate(address);
    const bool stayed = waitForLoginPage(start);
    if (self)
        Command2->setEnabled(true);
    return stayed;
}

bool fFileDownload::submitLogin(int element) {
    const QPointer<fFileDownload> self(this);
    const double start = startSecond();
    LoginPageLoading = true;
    const bool pressed = Web1->Click(element);
    if (loginWindowGone(self))
        return false;
    if (!pressed) {
        // The page changed under the copy: nothing was sent, so no answer will come.
        LoginPageLoading = false;
        return true;
    }
    return waitForLoginPage(start);
}

bool fFileDownload::waitForLoginPage(double start) {
    const QPointer<fFileDownload> self(this);
    do {
        DoEvents();
        if (loginWindowGone(self))
            return false;
    } while ((Web1->Busy() || LoginPageLoading) && elapsedSeconds() - start <= kPageWaitSeconds);
    return true;
}

// --- Web1's events ---

void fFileDownload::Web1_DocumentComplete() {
    LoginPageLoading = false;
}

void fFileDownload::Web1_TitleChange(const QString& title) {
    if (TrimSpaces(title).toLower() != kBlankPage)
        StatusPanel3->setText(title);
}
