#include "app/Forms.h"

#include "app/fCover.h"
#include "download/fFileDownload.h"
#include "search/fWebSearch.h"

#include <QIcon>
#include <QPointer>

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

void forget(QWidget* form) {
    auto& forms = loaded();
    std::erase_if(forms, [form](const QPointer<QWidget>& p) { return p.isNull() || p == form; });
}

template <typename Form> Form* findOrLoad(const char* name) {
    if (auto* existing = qobject_cast<Form*>(Forms::Find(QString::fromLatin1(name))))
        return existing;
    static const bool resourcesReady = (initResources(), true);
    Q_UNUSED(resourcesReady);
    auto* form = new Form();
    form->setObjectName(QString::fromLatin1(name));
    loaded().emplace_back(form);
    // The window may be unloaded from inside its own load (a nested wait lets the user close
    // it), so look at it through a guarded pointer afterwards.
    QPointer<Form> guard(form);
    form->Form_Load();
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
    return findOrLoad<::fFileDownload>("fFileDownload");
}

QWidget* Find(const QString& name) {
    for (const QPointer<QWidget>& form : loaded()) {
        if (form && form->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return form.data();
    }
    return nullptr;
}

void Unload(QWidget* form) {
    if (form)
        form->close();
}

void Unloaded(QWidget* form) {
    forget(form);
    form->hide();
    form->deleteLater();
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
}

} // namespace Forms

bool IsFormLoaded(const QString& name) {
    return Forms::Find(name) != nullptr;
}
