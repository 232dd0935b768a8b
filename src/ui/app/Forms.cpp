#include "ui/app/Forms.h"

#include "core/download/DownloadSession.h"
#include "ui/app/fCover.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"

#include <QHash>
#include <QIcon>
#include <QPointer>

#include <algorithm>
#include <vector>

// Outside any namespace, as Qt's resource macro requires.
static void initResources() {
    Q_INIT_RESOURCE(quillfetch);
}

namespace {

std::vector<QPointer<QWidget>>& loaded() {
    static std::vector<QPointer<QWidget>> forms;
    return forms;
}

// Windows with running handlers, and whether they were unloaded meanwhile.
struct HoldState {
    int count = 0;
    bool unloaded = false;
};
QHash<QWidget*, HoldState>& holds() {
    static QHash<QWidget*, HoldState> state;
    return state;
}

void forget(QWidget* form) {
    auto& forms = loaded();
    std::erase_if(forms, [form](const QPointer<QWidget>& p) { return p.isNull() || p == form; });
}

QPointer<DownloadSession>& runSession() {
    static QPointer<DownloadSession> session;
    return session;
}

template <typename Form, typename... Args> Form* findOrLoad(const char* name, Args... args) {
    if (auto* existing = qobject_cast<Form*>(Forms::Find(QString::fromLatin1(name))))
        return existing;
    static const bool resourcesReady = (initResources(), true);
    Q_UNUSED(resourcesReady);
    auto* form = new Form(args...);
    form->setObjectName(QString::fromLatin1(name));
    loaded().emplace_back(form);
    // The window may be unloaded from inside its own load (a nested wait lets the user close
    // it), so look at it through a guarded pointer afterwards.
    QPointer<Form> guard(form);
    {
        Forms::Hold hold(form);
        form->Form_Load();
    }
    // Unloaded meanwhile: it is on its way out (its deletion only waited for the load to
    // return) and showing it would flash up a window that is gone, beside the new one the
    // next request would make.
    if (!guard || !Forms::IsLoaded(guard.data()))
        return nullptr;
    return guard.data();
}

} // namespace

namespace Forms {

::fCover* fCover() {
    return findOrLoad<::fCover>("fCover");
}
::fWebSearch* fWebSearch() {
    return findOrLoad<::fWebSearch>("fWebSearch");
}
::fFileDownload* fFileDownload() {
    return findOrLoad<::fFileDownload>("fFileDownload", &Forms::RunDownloadSession());
}

DownloadSession& RunDownloadSession() {
    QPointer<DownloadSession>& session = runSession();
    if (!session)
        session = new DownloadSession;
    return *session;
}

void EndRunDownloadSession() {
    delete runSession().data();
}

QWidget* Find(const QString& name) {
    for (const QPointer<QWidget>& form : loaded()) {
        if (form && form->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return form.data();
    }
    return nullptr;
}

bool IsLoaded(const QWidget* form) {
    if (!form)
        return false;
    const auto& forms = loaded();
    return std::any_of(forms.cbegin(), forms.cend(),
                       [form](const QPointer<QWidget>& p) { return p.data() == form; });
}

void Unload(QWidget* form) {
    if (form)
        form->close();
}

void Unloaded(QWidget* form) {
    forget(form);
    form->hide();
    auto it = holds().find(form);
    if (it != holds().end() && it->count > 0)
        it->unloaded = true;
    else
        form->deleteLater();
}

Hold::Hold(QWidget* form) : form_(form) {
    if (form)
        ++holds()[form].count;
}

Hold::~Hold() {
    if (!form_)
        return;
    auto it = holds().find(form_.data());
    if (it == holds().end())
        return;
    if (--it->count > 0)
        return;
    const bool unloaded = it->unloaded;
    holds().erase(it);
    if (unloaded)
        form_->deleteLater();
}

QIcon CoverIcon() {
    if (QWidget* cover = Find("fCover"))
        return cover->windowIcon();
    return QIcon(QStringLiteral(":/quillfetch.svg"));
}

void DestroyAll() {
    auto forms = loaded();
    loaded().clear();
    for (const QPointer<QWidget>& form : forms)
        delete form.data();
    EndRunDownloadSession();
}

} // namespace Forms

bool IsFormLoaded(const QString& name) {
    return Forms::Find(name) != nullptr;
}
