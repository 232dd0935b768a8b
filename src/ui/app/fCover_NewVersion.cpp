#include "ui/app/fCover.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/ShellHelpers.h"
#include "core/app/Version.h"
#include "core/platform/Prompt.h"
#include "core/transfer/VersionCheck.h"
#include "core/transfer/uXMLHTTP.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace {

// QLabel has no click signal; this turns a left click on the notice into Label2_Click.
// It looks only at the label it was given, so it never touches the window while the window
// is being destroyed and its children still receive events.
class LabelClickFilter : public QObject {
public:
    LabelClickFilter(fCover* cover, QLabel* label) : QObject(cover), cover_(cover), label_(label) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && watched == label_ &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            cover_->Label2_Click();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    fCover* cover_;
    QLabel* label_;
};

QString programPage() {
    return ProgramPageAddress(Program().MakerSiteHost, ProgramFileName());
}

} // namespace

void fCover::CheckNewVersion() {
    if (!uXMLHTTP2) {
        uXMLHTTP2 = new uXMLHTTP(this);
        connect(uXMLHTTP2, &uXMLHTTP::OnDateArrived, this, [this] { uXMLHTTP2_OnDateArrived(); });
        connect(uXMLHTTP2, &uXMLHTTP::OnDateErr, this,
                [this](const QString& statusText) { uXMLHTTP2_OnDateErr(statusText); });
        Label2->installEventFilter(new LabelClickFilter(this, Label2));
    }
    NewVersionText.clear();
    // Without a known site (or with an address the request cannot take) there is nothing to
    // ask, and nothing to tell the user either.
    if (!uXMLHTTP2->Open_(QStringLiteral("GET"),
                          VersionFileAddress(Program().MakerSiteHost, ProgramFileName())))
        return;
    uXMLHTTP2->Send_();
}

void fCover::uXMLHTTP2_OnDateArrived() {
    NewVersionText = TrimSpaces(uXMLHTTP2->ResponseText());
    if (const std::optional<QString> text = VersionFileText(NewVersionText))
        ShowNewVersion(*text);
}

void fCover::uXMLHTTP2_OnDateErr(const QString& statusText) {
    Q_UNUSED(statusText);
    if (Prompt* prompt = Services().prompt)
        prompt->message(this, QStringLiteral("请保持网络畅通！"), MsgIcon::Error);
}

void fCover::ShowNewVersion(const QString& versionText) {
    if (!IsNewerVersion(versionText, {kVersionMajor, kVersionMinor, kVersionRevision}))
        return;
    // A version file ending with a line break still names its version on one line.
    Label2->setText(QStringLiteral("有最新版本：V") + versionText.trimmed());
    Label2->show();
    Label2_Click();
}

void fCover::Label2_Click() {
    const QString page = programPage();
    if (page.isEmpty())
        return;
    if (Shell* shell = Services().shell)
        OpenUrl(*shell, page, false);
}
