// Handing a row's file or the list's names to the outside: opening the file, showing its
// folder, the plain-text editor, the clipboard, the name exports and the status bar's path.

#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/ShellHelpers.h"
#include "core/app/WebAddress.h"
#include "core/download/CitationImport.h"
#include "core/download/Citations.h"
#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/platform/Shell.h"
#include "core/search/RecordMetadata.h"
#include "core/search/SearchList.h"
#include "ui/app/Forms.h"
#include "ui/search/fWebSearch.h"

#include <QClipboard>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSaveFile>

#include <functional>
#include <utility>

namespace {

const QString kFileMissing = QStringLiteral("该文件不存在！");
const QString kFolderMissing = QStringLiteral("文件夹不存在！");
const QString kOpenFailed = QStringLiteral("打开失败！");
const QString kNoTextEditor =
    QStringLiteral("没有找到可用的文本编辑器，将用该文件类型的默认程序打开。");
const QString kNoCompletedRows = QStringLiteral("没有已完成的下载项可导出！");
const QString kUnknownCitationType =
    QStringLiteral("请选择文件类型：.ris（RIS）、.bib（BibTeX）或 .json（CSL-JSON）。");
const QString kTooLargeForEditor = QStringLiteral("该文件太大，超过了2M，不便于用文本编辑器打开！");
// The desktop's registered web browser (Debian's alternatives name for it).
const QString kWebBrowser = QStringLiteral("x-www-browser");

// Reports a left click on the watched widget.
class ClickWatcher : public QObject {
public:
    ClickWatcher(QObject* parent, std::function<void()> onClick)
        : QObject(parent), onClick_(std::move(onClick)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            onClick_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onClick_;
};

} // namespace

void fFileDownload::setUpStatusPanelClicks() {
    StatusPanel2->installEventFilter(
        new ClickWatcher(StatusPanel2, [this] { StatusBar1_PanelClick(2); }));
}

void fFileDownload::StatusBar1_PanelClick(int panel) {
    // Panel 1 would open the maker's site, which the program does not have.
    if (panel != 2)
        return;
    const QString text = StatusPanel2->text();
    Shell* shell = Services().shell;
    if (text.isEmpty() || !shell)
        return;
    shell->startProgram(kWebBrowser, text);
}

QString fFileDownload::workedRowFile() {
    const int position = workedRow();
    if (position == 0)
        return {};
    const QString path = ItemFilePath(*ListItems3, position);
    if (path.isEmpty() || !FileExists(path)) {
        Services().prompt->message(this, kFileMissing, MsgIcon::Error);
        return {};
    }
    return path;
}

void fFileDownload::menu打开下载文件_Click() {
    Shell* shell = Services().shell;
    Prompt* prompt = Services().prompt;
    if (!shell || !prompt)
        return;
    Forms::Hold hold(this);
    const QString path = workedRowFile();
    if (!path.isEmpty())
        OpenWithDefaultApp(*shell, *prompt, this, path);
}

void fFileDownload::menu打开文件所在文件夹_Click() {
    const int position = workedRow();
    Shell* shell = Services().shell;
    Prompt* prompt = Services().prompt;
    if (position == 0 || !shell || !prompt)
        return;
    Forms::Hold hold(this);
    const QString folder = ListItems3->SubItem(position, DownloadColumn::Folder);
    if (folder.isEmpty() || !FolderExists(folder)) {
        prompt->message(this, kFolderMissing, MsgIcon::Error);
        return;
    }
    const QString path = ItemFilePath(*ListItems3, position);
    if (!path.isEmpty() && FileExists(path)) {
        // Not every Linux file manager can select a file; the folder itself is the next
        // best thing.
        if (!ShowInFolder(*shell, path) && !shell->openFile(folder))
            prompt->message(this, kOpenFailed, MsgIcon::Error);
        return;
    }
    shell->openFile(folder);
}

void fFileDownload::menu用记事本打开文件_Click() {
    Shell* shell = Services().shell;
    Prompt* prompt = Services().prompt;
    if (!shell || !prompt)
        return;
    Forms::Hold hold(this);
    const QString path = workedRowFile();
    if (path.isEmpty())
        return;
    if (QFileInfo(path).size() > kLargestTextFileBytes) {
        prompt->message(this, kTooLargeForEditor, MsgIcon::Error);
        return;
    }
    // The file goes to the desktop's text editor whatever its type, so that a page saved as
    // .htm shows its source; without one, its own default application is the fall-back.
    const QString editor = PlainTextEditorProgram();
    if (!editor.isEmpty() && shell->startProgram(editor, path))
        return;
    prompt->message(this, kNoTextEditor, MsgIcon::Information);
    shell->openFile(path);
}

void fFileDownload::menu复制名称_Click() {
    const int position = workedRow();
    if (position == 0)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    clipboard->setText(ListItems3->Text(position));
}

void fFileDownload::menu导出全部名称_Click() {
    exportNames(false);
}

void fFileDownload::menu导出未完成项名称_Click() {
    exportNames(true);
}

void fFileDownload::exportNames(bool unfinishedOnly) {
    Prompt* prompt = Services().prompt;
    if (ListItems3->Count() == 0 || !prompt)
        return;
    Forms::Hold hold(this);
    // The dialog asks before it returns a file that exists; the name is taken as chosen, so
    // what was confirmed is what gets replaced.
    const QString path = prompt->saveFileName(this, QStringLiteral("另存为"), QString(),
                                              QStringLiteral("*.txt (*.txt)"));
    if (path.isEmpty() || !stillLoaded())
        return;
    const QString text = ExportNamesText(*ListItems3, unfinishedOnly);

    // Opening for writing empties the file, which is the whole export when no row qualifies,
    // and tells why a file cannot be written at all.
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        prompt->message(this, target.errorString(), MsgIcon::Error);
        return;
    }
    target.close();
    if (!text.isEmpty() && !WriteExportFile(path, text))
        prompt->message(this, QStringLiteral("无法写入文件：") + path, MsgIcon::Error);
}

namespace {

QString JoinedLines(const QList<int>& lines) {
    QStringList numbers;
    for (const int line : lines)
        numbers << QString::number(line);
    return numbers.join(QStringLiteral("、"));
}

} // namespace

void fFileDownload::menu导出引文_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Forms::Hold hold(this);
    // The rows are read before the dialog: the transfers go on while it is open, and what the
    // user selected is what they meant to export. Rows handed over before their data was kept
    // find their title in the search list, if it is still open.
    KeyedListModel* records = nullptr;
    if (auto* search = dynamic_cast<fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch"))))
        records = search->ListItems;
    bool anySelected = false;
    int withoutFile = 0;
    const QList<CitationEntry> entries =
        session_->CompletedRowCitations(records, anySelected, withoutFile);
    if (entries.isEmpty()) {
        prompt->message(this, kNoCompletedRows, MsgIcon::Information);
        return;
    }
    QString path =
        prompt->saveFileName(this, QStringLiteral("导出引文"), QString(),
                             QStringLiteral("RIS (*.ris);;BibTeX (*.bib);;CSL-JSON (*.json)"));
    if (path.isEmpty() || !stillLoaded())
        return;
    // A name typed without an extension gets the first format's, before anything looks at
    // whether that file exists. The dialog itself asked about the name it gave back; only a name
    // it never saw needs asking about here.
    const bool extended = QFileInfo(path).suffix().isEmpty();
    if (extended)
        path += CitationExtension(CitationFormat::Ris);
    const std::optional<CitationFormat> format = CitationFormatOfPath(path);
    if (!format) {
        prompt->message(this, kUnknownCitationType, MsgIcon::Error);
        return;
    }
    if (extended && QFileInfo::exists(path) &&
        (prompt->message(this, QStringLiteral("文件已存在：\n%1\n要替换它吗？").arg(path),
                         MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes ||
         !stillLoaded()))
        return;
    // Written whole or not at all: a reference manager must never import half a file.
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly) ||
        target.write(CitationFileText(entries, *format)) < 0 || !target.commit()) {
        prompt->message(this,
                        QStringLiteral("无法写入文件：") + path + QLatin1Char('\n') +
                            target.errorString(),
                        MsgIcon::Error);
        return;
    }
    QString done =
        QStringLiteral("已写入%1条引文（%2）：\n%3")
            .arg(entries.size())
            .arg(anySelected ? QStringLiteral("选中的已完成项") : QStringLiteral("全部已完成项"),
                 path);
    if (withoutFile > 0)
        done += QStringLiteral("\n其中%1条没有附文章文件（下载所得是网页，或文件已不在）。")
                    .arg(withoutFile);
    prompt->message(this, done, MsgIcon::Information);
}

void fFileDownload::menu导入引用文件_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Forms::Hold hold(this);
    const QString path =
        prompt->openFileName(this, QStringLiteral("导入引用文件"), QString(),
                             QStringLiteral("引用文件 (*.ris *.bib *.json *.txt);;所有文件 (*)"));
    if (path.isEmpty() || !stillLoaded())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        prompt->message(this, QStringLiteral("无法读取文件：%1\n%2").arg(path, file.errorString()),
                        MsgIcon::Error);
        return;
    }
    const CitationFileContents contents = ParseCitationFile(path, file.readAll());
    file.close();
    if (!contents.error.isEmpty()) {
        prompt->message(this, QStringLiteral("无法读取文件：%1\n%2").arg(path, contents.error),
                        MsgIcon::Error);
        return;
    }
    const QString unusable = contents.unusableLines.isEmpty()
                                 ? QString()
                                 : QStringLiteral("以下各行开始的条目没有DOI或网址，未加入：第%1行")
                                       .arg(JoinedLines(contents.unusableLines));
    if (contents.entries.isEmpty()) {
        prompt->message(
            this, unusable.isEmpty() ? QStringLiteral("文件中没有找到引用条目：") + path : unusable,
            MsgIcon::Information);
        return;
    }
    const QString folder =
        prompt->chooseFolder(this, QStringLiteral("选择下载保存路径"), Program().DefaultSaveFolder);
    if (folder.isEmpty() || !stillLoaded())
        return;
    const CitationImportOutcome outcome =
        session_->AddImportedRows(ImportedRows(contents, Program().UseLinkFileName), folder);
    const int added = outcome.added;
    const int listed = outcome.listed;
    const QList<int>& refused = outcome.refusedLines;
    QStringList lines{QStringLiteral("已加入%1条下载任务。").arg(added)};
    if (listed > 0)
        lines << QStringLiteral("%1条已在下载列表中，未重复加入。").arg(listed);
    if (!unusable.isEmpty())
        lines << unusable;
    if (!refused.isEmpty())
        lines << QStringLiteral("以下各行开始的条目的链接不能下载，未加入：第%1行")
                     .arg(JoinedLines(refused));
    prompt->message(this, lines.join(QLatin1Char('\n')),
                    unusable.isEmpty() && refused.isEmpty() ? MsgIcon::Information
                                                            : MsgIcon::Warning);
}
