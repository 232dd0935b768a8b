// Citations in and out of the download session: a reference manager's entries (or a list of
// DOIs) become waiting rows, and completed rows become entries with their article attached.

#include "core/download/DownloadSession.h"

#include "core/app/WebAddress.h"
#include "core/download/Citations.h"
#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/platform/KeyedListModel.h"

#include <QFileInfo>

namespace {

// A row whose transfer brought a web page instead of the article, or whose file is one.
bool endedAsWebPage(const KeyedListModel& list, int position, const QString& file) {
    if (!list.HiddenValue(position, DownloadHidden::WebPage).isEmpty())
        return true;
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == QLatin1String("htm") || suffix == QLatin1String("html");
}

} // namespace

CitationImportOutcome DownloadSession::AddImportedRows(const QList<ImportedRow>& rows,
                                                       const QString& folder) {
    CitationImportOutcome outcome;
    QString saveFolder = folder;
    if (!saveFolder.endsWith(QLatin1Char('/')))
        saveFolder += QLatin1Char('/');
    for (const ImportedRow& entry : rows) {
        if (entry.link.isEmpty() || !IsWebAddress(entry.link)) {
            outcome.refusedLines << entry.line;
            continue;
        }
        if (!AddDownloadItem(entry.link, entry.name, QStringLiteral("pdf"), saveFolder,
                             QString())) {
            ++outcome.listed;
            continue;
        }
        // As with records, the row keeps a DOI of its own only where its link names none.
        ArticleMetadata metadata = entry.metadata;
        if (DoiOfAddress(entry.link).compare(metadata.doi, Qt::CaseInsensitive) == 0)
            metadata.doi.clear();
        SetRowMetadata(*ListItems3, ListItems3->PositionOfKey(entry.link), metadata);
        ++outcome.added;
    }
    emit listChanged();
    return outcome;
}

QList<CitationEntry> DownloadSession::CompletedRowCitations(const KeyedListModel* records,
                                                            bool& selectedOnly,
                                                            int& withoutFile) const {
    const KeyedListModel& list = *ListItems3;
    selectedOnly = false;
    for (int position = 1; position <= list.Count() && !selectedOnly; ++position)
        selectedOnly = list.Selected(position) && list.SmallIcon(position) == ItemState::Completed;
    QList<CitationEntry> entries;
    withoutFile = 0;
    for (int position = 1; position <= list.Count(); ++position) {
        if (list.SmallIcon(position) != ItemState::Completed ||
            (selectedOnly && !list.Selected(position)))
            continue;
        const QString link = list.Key(position);
        ArticleMetadata metadata = RowMetadata(list, position);
        if (metadata.title.isEmpty()) {
            const int record = records ? records->PositionOfKey(link) : 0;
            metadata.title = record > 0 ? records->Text(record) : list.Text(position);
        }
        QString file = RowFilePath(list, position);
        if (file.isEmpty())
            file = ItemFilePath(list, position);
        // Only the article itself is attached: a login or error page saved in its place would
        // be filed in the reference manager as the paper.
        if (endedAsWebPage(list, position, file) || !QFileInfo(file).isFile()) {
            file.clear();
            ++withoutFile;
        }
        entries.append(CitationOf(metadata, link, list.Tag(position), file));
    }
    return entries;
}
