// What the status panels say about rows: one verdict per row, and a message goes as soon as
// what it says is no longer true.

#include "core/download/DownloadSession.h"

#include "core/download/DownloadList.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/KeyedListModel.h"

namespace {

bool isRowPanel(int panel) {
    return panel == 1 || panel == 2;
}

} // namespace

QString DownloadSession::PanelText(int panel) const {
    return panel >= 1 && panel <= 3 ? panelText_[static_cast<std::size_t>(panel)] : QString();
}

void DownloadSession::SetPanelText(int panel, const QString& text) {
    if (panel < 1 || panel > 3)
        return;
    panelText_[static_cast<std::size_t>(panel)] = text;
    emit panelTextChanged(panel, text);
}

void DownloadSession::showRowMessage(int panel, int position, const QString& text) {
    if (!isRowPanel(panel) || position < 1 || position > ListItems3->Count())
        return;
    SetPanelText(panel, text);
    RowMessage& said = rowMessages_[static_cast<std::size_t>(panel)];
    said.key = ListItems3->Key(position);
    said.state = ListItems3->SmallIcon(position);
    said.webPage = RowWebPageKind(*ListItems3, position).has_value();
    said.text = text;
}

void DownloadSession::showRowVerdict(int position) {
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
        if (PanelText(panel) == said.text)
            SetPanelText(panel, QString());
        said = RowMessage{};
    }
}

void DownloadSession::dropStaleRowMessages() {
    for (int panel = 1; panel <= 2; ++panel) {
        RowMessage& said = rowMessages_[static_cast<std::size_t>(panel)];
        if (said.key.isEmpty())
            continue;
        const int position = ListItems3->PositionOfKey(said.key);
        if (position != 0 && ListItems3->SmallIcon(position) == said.state &&
            RowWebPageKind(*ListItems3, position).has_value() == said.webPage)
            continue;
        // Something else said since then stays.
        if (PanelText(panel) == said.text)
            SetPanelText(panel, QString());
        said = RowMessage{};
    }
}
