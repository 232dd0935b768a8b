#include "LayoutCheck.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextEdit>
#include <QTreeView>

namespace {

QString nameOf(const QWidget* widget) {
    QString text;
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    else if (auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (auto* group = qobject_cast<const QGroupBox*>(widget))
        text = group->title();
    const QString name = widget->objectName().isEmpty()
                             ? QString::fromLatin1(widget->metaObject()->className())
                             : widget->objectName();
    return text.isEmpty() ? name : QStringLiteral("%1 \"%2\"").arg(name, text.left(24));
}

// The controls a user reads or works: containers are looked into, composite controls (a list,
// a drop-down, a browser) are taken whole.
bool isControl(const QWidget* widget) {
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLabel*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QAbstractItemView*>(widget) ||
           qobject_cast<const QProgressBar*>(widget) || qobject_cast<const QTextEdit*>(widget);
}

void collect(QWidget* parent, QList<QWidget*>& controls, QList<QGroupBox*>& groups) {
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow() || !widget->isVisible())
            continue;
        if (isControl(widget)) {
            controls << widget;
            continue;
        }
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            groups << group;
        if (QString::fromLatin1(widget->metaObject()->className()).startsWith("QWebEngine"))
            continue;
        collect(widget, controls, groups);
    }
}

QRect inWindow(const QWidget* widget, const QWidget* window) {
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// The width and height the control's text needs, when it has a text it shows in one piece.
QSize textNeeds(const QWidget* widget) {
    const QFontMetrics metrics = widget->fontMetrics();
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            return {};
        if (label->wordWrap()) {
            const QRect inner = label->contentsRect();
            return {0, label->heightForWidth(label->width()) - (label->height() - inner.height())};
        }
        const QSize hint = label->sizeHint();
        const int frame = label->width() - label->contentsRect().width();
        return {hint.width() - frame, metrics.height()};
    }
    if (qobject_cast<const QCheckBox*>(widget) || qobject_cast<const QRadioButton*>(widget)) {
        auto* button = static_cast<const QAbstractButton*>(widget);
        return button->text().isEmpty() ? QSize() : button->sizeHint();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (button->text().isEmpty())
            return {};
        const QString text = QString(button->text()).remove('&');
        return {metrics.horizontalAdvance(text) +
                    button->iconSize().width() * !button->icon().isNull(),
                metrics.height()};
    }
    if (auto* group = qobject_cast<const QGroupBox*>(widget))
        return {metrics.horizontalAdvance(group->title()), 0};
    return {};
}

} // namespace

QStringList LayoutFaults(QWidget* window, int titleBar) {
    QStringList faults;
    const QRect frame = window->frameGeometry();
    if (QScreen* screen = window->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect withTitle =
            window->isMaximized()
                ? frame
                : frame.adjusted(0, frame == window->geometry() ? -titleBar : 0, 0, 0);
        if (!area.contains(withTitle)) {
            faults << QStringLiteral("window %1 at %2,%3 %4x%5 is not wholly on the screen %6x%7")
                          .arg(nameOf(window))
                          .arg(withTitle.x())
                          .arg(withTitle.y())
                          .arg(withTitle.width())
                          .arg(withTitle.height())
                          .arg(area.width())
                          .arg(area.height());
        }
    }
    QList<QWidget*> controls;
    QList<QGroupBox*> groups;
    collect(window, controls, groups);
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a = inWindow(controls[i], window);
        if (!window->rect().contains(a))
            faults << QStringLiteral("%1 reaches outside the window").arg(nameOf(controls[i]));
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect overlap = a & inWindow(controls[j], window);
            if (overlap.width() > 1 && overlap.height() > 1)
                faults << QStringLiteral("%1 overlaps %2")
                              .arg(nameOf(controls[i]), nameOf(controls[j]));
        }
    }
    QList<QWidget*> texts(controls.begin(), controls.end());
    for (QGroupBox* group : groups)
        texts << group;
    for (QWidget* widget : texts) {
        const QSize needs = textNeeds(widget);
        if (needs.width() > widget->width() + 1 || needs.height() > widget->height() + 1)
            faults << QStringLiteral("%1 is cut: needs %2x%3, has %4x%5")
                          .arg(nameOf(widget))
                          .arg(needs.width())
                          .arg(needs.height())
                          .arg(widget->width())
                          .arg(widget->height());
    }
    for (QTreeView* list : window->findChildren<QTreeView*>()) {
        QHeaderView* header = list->header();
        if (!list->isVisible() || !header || header->count() == 0)
            continue;
        int last = header->count() - 1;
        while (last > 0 && header->isSectionHidden(header->logicalIndex(last)))
            --last;
        const int right = header->sectionViewportPosition(header->logicalIndex(last)) +
                          header->sectionSize(header->logicalIndex(last));
        if (right < list->viewport()->width() - 1)
            faults << QStringLiteral("%1 leaves %2 px right of its last column empty")
                          .arg(nameOf(list))
                          .arg(list->viewport()->width() - right);
    }
    return faults;
}
