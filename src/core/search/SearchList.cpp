#include "core/search/SearchList.h"

#include "core/app/FileHelpers.h"
#include "core/platform/KeyedListModel.h"

QStringList SearchListHeaders() {
    return {QStringLiteral("标题"), QStringLiteral("类型"), QStringLiteral("分析状态"),
            QStringLiteral("保存路径")};
}

bool AddSearchRecord(KeyedListModel& list, const QString& title, const QString& link,
                     const QString& page, const QString& type, const QString& saveFolder) {
    if (!list.Add(link, title))
        return false;
    const int position = list.Count();
    list.SetSubItem(position, 1, type);
    list.SetTag(position, page);
    list.SetSubItem(position, 3, saveFolder);
    return true;
}

int RemoveSelectedRows(KeyedListModel& list) {
    return list.RemoveWhere([&list](int position) { return list.Selected(position); });
}

int RemoveSucceededRows(KeyedListModel& list) {
    const QString succeeded = QStringLiteral("成功");
    return list.RemoveWhere(
        [&list, &succeeded](int position) { return list.SubItem(position, 2) == succeeded; });
}

int RemoveRowsByTitle(KeyedListModel& list, const QString& text, bool containing) {
    if (text.isEmpty())
        return 0;
    return list.RemoveWhere([&](int position) {
        return list.Text(position).contains(text, Qt::CaseInsensitive) == containing;
    });
}

QString SearchListExportText(const KeyedListModel& list) {
    QString text;
    for (int position = 1; position <= list.Count(); ++position) {
        text += list.Text(position);
        text += QStringLiteral("-【");
        text += list.SubItem(position, 1);
        text += QStringLiteral("】");
        text += list.SubItem(position, 2);
        text += QLatin1String("\r\n");
    }
    return text;
}

bool WriteExportFile(const QString& path, const QString& text) {
    // An empty list has nothing to export; an existing file is left alone.
    return !text.isEmpty() && WriteGb18030File(path, text);
}

QString FormatKilobytes(qint64 bytes) {
    // Tenths of a kilobyte, rounded half away from zero, in integers: exact for every size.
    const bool negative = bytes < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(bytes) : quint64(bytes);
    const quint64 tenths = magnitude / 1024 * 10 + ((magnitude % 1024) * 10 + 512) / 1024;
    QString whole = QString::number(tenths / 10);
    for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
        whole.insert(at, QLatin1Char(','));
    QString result = whole + QLatin1Char('.') + QString::number(tenths % 10);
    if (negative && tenths != 0)
        result.prepend(QLatin1Char('-'));
    return result;
}

QString ExportDoneMessage(qint64 bytes) {
    return QStringLiteral("保存文件完毕：") + FormatKilobytes(bytes) + QStringLiteral("KB");
}
