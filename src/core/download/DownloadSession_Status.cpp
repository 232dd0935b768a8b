// What the download window's status bar says about rows: one verdict per row, and a message
// goes as soon as what it says is no longer true. The row count beside the list follows the
// list itself, whoever changed it.

#include "ui/download/fFileDownload.h"

#include "core/download/DownloadList.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/KeyedListModel.h"

#include <QLabel>
#include <QTimer>

namespace {

bool isRowPanel(int panel) {
    return panel == 1 || panel == 2;
}

} // namespace

void fFileDownload::followRowCount() {
    // One zero timer for both: a hand-over of two thousand rows, or a progress stream of six
    // transfers, costs one look per event-loop turn, not one per row.
    rowCountTimer_ = new QTimer(this);
    rowCountTimer_->setSingleShot(true);
    rowCountTimer_->setInterval(0);
    connect(rowCountTimer_, &QTimer::timeout, this, [this] {
        showRowCount();
        dropStaleRowMessages();
    });
    const auto changed = [this] {
        if (!rowCountTimer_->isActive())
            rowCountTimer_->start();
    };
    connect(ListItems3, &QAbstractItemModel::rowsInserted, this, changed);
    connect(ListItems3, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(ListItems3, &QAbstractItemModel::modelReset, this, changed);
    connect(ListItems3, &QAbstractItemModel::dataChanged, this, [this, changed] {
        if (!rowMessages_[1].key.isEmpty() || !rowMessages_[2].key.isEmpty())
            changed();
    });
}

void fFileDownload::showRowMessage(int panel, int position, const QString& text) {
    if (!isRowPanel(panel) || position < 1 || position > ListItems3->Count())
        return;
    QLabel* label = panel == 1 ? StatusPanel1 : StatusPanel2;
    label->setText(text);
    RowMessage& said = rowMessages_[static_cast<std::size_t>(panel)];
    said.key = ListItems3->Key(position);
    said.state = ListItems3->SmallIcon(position);
    said.webPage = RowWebPageKind(*ListItems3, position).has_value();
    said.text = text;
}

void fFileDownload::showRowVerdict(int position) {
    KeyedListModel& list = *ListItems3;
    if (position < 1 || position > list.Count())
        return;
    const QString key = list.Key(position);
    const QString name = list.Text(position);
    const QString reason = RowFailureReason(list, position);
    const QString because = reason.isEmpty() ? QString() : QStringLiteral("：") + reason;
    int shown = 0;
    if (RowWebPageKind(list, position)) {
        // A page instead of the file is neither a completed download nor a plain failure.
        showRowMessage(shown = 1, position, QStringLiteral("网页：") + name + because);
    } else if (list.SmallIcon(position) == ItemState::Completed) {
        showRowMessage(shown = 2, position, QStringLiteral("完成下载:") + name);
    } else if (list.SmallIcon(position) == ItemState::Failed) {
        showRowMessage(shown = 1, position, QStringLiteral("下载失败：") + name + because);
    }
    for (int panel = 1; panel <= 2; ++panel) {
        RowMessage& said = rowMessages_[static_cast<std::size_t>(panel)];
        if (panel == shown || said.key != key)
            continue;
        QLabel* label = panel == 1 ? StatusPanel1 : StatusPanel2;
        if (label->text() == said.text)
            label->clear();
        said = RowMessage{};
    }
}

void fFileDownload::dropStaleRowMessages() {
    for (int panel = 1; panel <= 2; ++panel) {
        RowMessage& said = rowMessages_[static_cast<std::size_t>(panel)];
        if (said.key.isEmpty())
            continue;
        const int position = ListItems3->PositionOfKey(said.key);
        if (position != 0 && ListItems3->SmallIcon(position) == said.state &&
            RowWebPageKind(*ListItems3, position).has_value() == said.webPage)
            continue;
        // Something else said since then stays.
        QLabel* label = panel == 1 ? StatusPanel1 : StatusPanel2;
        if (label->text() == said.text)
            label->clear();
        said = RowMessage{};
    }
}
