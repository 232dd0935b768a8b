#include "ui/app/TerminalDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/WebAddress.h"
#include "core/download/CitationImport.h"
#include "core/download/DownloadList.h"
#include "core/download/DownloadSession.h"
#include "core/download/HostPacing.h"
#include "core/download/ListCommands.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/search/RecordMetadata.h"
#include "core/transfer/Inet.h"
#include "core/transfer/TransferNetwork.h"
#include "ui/platform/StoredCookies.h"
#include "ui/platform/WebBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QNetworkCookieJar>
#include <QSet>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Options of Qt's own GUI start, which takes them before the program sees its arguments:
// 0 for none, 1 for one alone, 2 for one followed by its value (unless given as "-name=value").
int desktopStartOption(const QString& argument) {
    static const QStringList alone =
        QStringLiteral("reverse widgetcount nograb dograb sync").split(QLatin1Char(' '));
    static const QStringList withValue =
        QStringLiteral("platform platformpluginpath platformtheme plugin qwindowgeometry "
                       "qwindowicon qwindowtitle session style stylesheet display geometry "
                       "qmljsdebugger")
            .split(QLatin1Char(' '));
    if (!argument.startsWith(QLatin1Char('-')))
        return 0;
    QString name = argument.section(QLatin1Char('='), 0, 0);
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    if (alone.contains(name))
        return 1;
    if (withValue.contains(name))
        return argument.contains(QLatin1Char('=')) ? 1 : 2;
    return 0;
}

std::optional<SameNameChoice> sameNameOf(const QString& text) {
    if (text == QLatin1String("skip") || text == QStringLiteral("跳过"))
        return SameNameChoice::Skip;
    if (text == QLatin1String("overwrite") || text == QStringLiteral("覆盖"))
        return SameNameChoice::Overwrite;
    if (text == QLatin1String("rename") || text == QStringLiteral("重命名"))
        return SameNameChoice::Rename;
    return std::nullopt;
}

void writeTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

// --- Ctrl+C ---

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signalsSeen = 0;

void onSignal(int number) {
    // A second Ctrl+C while the first one's stop is still under way ends the program at once.
    g_signalsSeen = g_signalsSeen + 1;
    if (g_signalsSeen > 1)
        ::_exit(TerminalExit::SignalBase + number);
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Questions the session would put to the user in a dialog get the answer that changes nothing
// (no, cancel), said on standard error with the question, so that a run started from a script
// never goes on where the desktop program would have asked first.
class TerminalPrompt : public Prompt {
public:
    MsgResult message(QObject*, const QString& text, MsgIcon, MsgButtons buttons,
                      const QString&) override {
        MsgResult answer = MsgResult::Ok;
        QString said;
        switch (buttons) {
        case MsgButtons::Ok:
            break;
        case MsgButtons::OkCancel:
        case MsgButtons::YesNoCancel:
            answer = MsgResult::Cancel;
            said = QStringLiteral("（终端运行：按“取消”处理）");
            break;
        case MsgButtons::YesNo:
            answer = MsgResult::No;
            said = QStringLiteral("（终端运行：按“否”处理，可在桌面程序中回答）");
            break;
        }
        if (quiet)
            return answer;
        if (before)
            before();
        writeTo(stderr, text + said + QLatin1Char('\n'));
        return answer;
    }
    std::optional<QString> input(QObject*, const QString&, const QString&,
                                 const QString&) override {
        return std::nullopt;
    }
    QString openFileName(QObject*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString saveFileName(QObject*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString chooseFolder(QObject*, const QString&, const QString&) override { return {}; }

    std::function<void()> before; // clears the progress line
    bool quiet = false;           // the question was answered in the terminal's own words
};

// The file named on the command line: "~/" stands for the home folder also when the shell
// did not expand it (a quoted argument), a relative path is taken from the current folder.
QString absolutePath(const QString& typed) {
    QString path = typed;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// The stored choices of the desktop program, as its download window reads them.
struct StoredChoices {
    int mode = 2;
    int threads = 3;
    int gapSeconds = 0;
    SameNameChoice sameName = SameNameChoice::Rename;
    bool autoStop = false;
    QString folder;
};

StoredChoices readStoredChoices(const SettingsStore& settings) {
    StoredChoices stored;
    int mode = stored.mode;
    if (settings.ReadInt(Keys::DownloadMode, mode) && (mode == 1 || mode == 2))
        stored.mode = mode;
    int index = stored.threads - 1;
    if (settings.ReadInt(Keys::ThreadCount, index) && index >= 0 && index <= 5)
        stored.threads = index + 1;
    int gap = 0;
    if (settings.ReadInt(Keys::DownloadGap, gap) && gap >= 0 && gap <= 600)
        stored.gapSeconds = gap;
    stored.sameName =
        sameNameOf(settings.Read(Keys::SameNamePolicy).trimmed()).value_or(SameNameChoice::Rename);
    int stop = 0;
    stored.autoStop = settings.ReadInt(Keys::StopOnProblems, stop) && stop == 1;
    stored.folder = settings.Read(Keys::DefaultSaveFolder);
    return stored;
}

// One run: the session, what it prints, and when it is over.
class TerminalRun : public QObject {
public:
    TerminalRun(DownloadSession& session, bool showProgress)
        : session_(session), list_(*session.ListItems3), showProgress_(showProgress) {}

    // Rows already in the list (a restored list) that ended in an earlier run say nothing.
    void Start() {
        for (int row = 1; row <= list_.Count(); ++row)
            ended_.insert(list_.Key(row), isFinal(list_.SmallIcon(row)));
        connect(&list_, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to) {
                    for (int row = from.row(); row <= to.row(); ++row)
                        lookAtRow(row + 1);
                });
        connect(&session_, &DownloadSession::siteCheckEnded, this, [this] { tellSiteCheck(); });
        connect(&session_, &DownloadSession::housekeepingShown, this, [this] { lookAtEnd(); });
        if (showProgress_) {
            auto* progress = new QTimer(this);
            progress->setInterval(500);
            connect(progress, &QTimer::timeout, this, [this] { showProgress(); });
            progress->start();
        }
        session_.Command4_Click();
    }

    void Interrupt(int signalNumber) {
        if (signal_ != 0)
            return;
        signal_ = signalNumber;
        say(QStringLiteral("正在停止下载：已下载的部分保留，可用 --resume 继续……"));
        session_.StopForClose();
        lookAtEnd();
    }

    int ExitCode() const { return exitCode_; }
    // Entries of the file that became no row: the run did not fetch all it was asked to.
    void SetEntriesRefused(bool refused) { refused_ = refused; }

    void say(const QString& text) {
        ClearProgress();
        writeTo(stderr, text + QLatin1Char('\n'));
    }

    // Clears the progress line before other text takes its place.
    void ClearProgress() {
        if (progressShown_) {
            writeTo(stdout, QStringLiteral("\r\x1b[K"));
            progressShown_ = false;
        }
    }

private:
    static bool isFinal(int state) {
        return state == ItemState::Completed || state == ItemState::Failed;
    }

    QString rowName(int row) const {
        const QString path = RowFilePath(list_, row);
        if (!path.isEmpty())
            return QFileInfo(path).fileName();
        const QString type = list_.SubItem(row, DownloadColumn::Type);
        return list_.Text(row) + (type.isEmpty() ? QString() : QLatin1Char('.') + type);
    }

    // The row's reason, or what its progress or size column says instead of a number.
    QString rowNote(int row) const {
        const QString reason = RowFailureReason(list_, row);
        if (!reason.isEmpty())
            return reason;
        const std::optional<WebPageKind> page = RowWebPageKind(list_, row);
        if (page)
            return WebPageKindText(*page);
        const QString percent = list_.SubItem(row, DownloadColumn::Percent);
        if (!percent.isEmpty() && !percent.endsWith(QLatin1Char('%')))
            return percent;
        // The single connection says in the size column why it ended ("下载取消").
        const QString size = list_.SubItem(row, DownloadColumn::Size);
        bool number = false;
        size.toLongLong(&number);
        return list_.SmallIcon(row) == ItemState::Failed && !number ? size : QString();
    }

    void lookAtRow(int row) {
        if (row < 1 || row > list_.Count())
            return;
        const QString key = list_.Key(row);
        const int state = list_.SmallIcon(row);
        const bool final = isFinal(state);
        bool& wasFinal = ended_[key];
        if (final == wasFinal)
            return;
        wasFinal = final;
        if (!final)
            return;
        // A web page that came instead of the article is no downloaded article.
        const bool webPage = RowWebPageKind(list_, row).has_value();
        const QString word = state == ItemState::Failed ? QStringLiteral("失败")
                             : webPage                  ? QStringLiteral("网页")
                                                        : QStringLiteral("已完成");
        lastEndedHost_ = HostOfLink(key);
        QString note = rowNote(row);
        if (note.isEmpty() && signal_ != 0 && state == ItemState::Failed)
            note = QStringLiteral("已停止，可用 --resume 续传");
        line(word + QLatin1Char('\t') + rowName(row) + QLatin1Char('\t') + note);
    }

    void tellSiteCheck() {
        if (lastEndedHost_.isEmpty() || toldChecks_.contains(lastEndedHost_))
            return;
        toldChecks_.insert(lastEndedHost_);
        say(QStringLiteral("网站 %1 要求人机验证：终端下无法完成，该网站的项已停止。请在桌面程序"
                           "（quillfetch）的资料检索窗口中打开该网站完成验证，然后用 --resume "
                           "继续。")
                .arg(lastEndedHost_));
    }

    // Nothing more can start when every waiting row's site waits for the user (held after
    // failures in a row): the desktop program would wait for a command, a terminal run ends.
    bool onlyHeldSitesWait() const {
        // (The busy flag may stay set in the parallel mode while downloading is on.)
        if (session_.CountDownloaderSlots() >= 2 || session_.Inet1->StillExecuting())
            return false;
        bool anyWaiting = false;
        for (int row = 1; row <= list_.Count(); ++row) {
            if (list_.SmallIcon(row) == ItemState::Downloading)
                return false;
            if (list_.SmallIcon(row) != ItemState::Waiting)
                continue;
            anyWaiting = true;
            if (session_.Pacing().SecondsUntilStart(HostOfLink(list_.Key(row))) >= 0)
                return false;
        }
        return anyWaiting;
    }

    void lookAtEnd() {
        if (finished_)
            return;
        if (session_.TransferInWork()) {
            if (!onlyHeldSitesWait())
                return;
            say(QStringLiteral("剩下的项所在网站已因连续出错暂停，下载结束。"));
            session_.Command31_Click();
            if (session_.TransferInWork())
                return;
        }
        finished_ = true;
        finish();
    }

    void finish() {
        // The list tells its views of changes a little later, gathered: the last ends may not
        // have been told yet.
        for (int row = 1; row <= list_.Count(); ++row)
            lookAtRow(row);
        int completed = 0;
        int failed = 0;
        int open = 0;
        for (int row = 1; row <= list_.Count(); ++row) {
            const int state = list_.SmallIcon(row);
            if (state == ItemState::Completed && !RowWebPageKind(list_, row))
                ++completed;
            else if (isFinal(state))
                ++failed;
            else {
                ++open;
                if (signal_ == 0)
                    line(QStringLiteral("未完成\t") + rowName(row) + QLatin1Char('\t') +
                         rowNote(row));
            }
        }
        session_.WriteJournalNow();
        say(QStringLiteral("完成 %1 项，失败 %2 项，未完成 %3 项。")
                .arg(completed)
                .arg(failed)
                .arg(open) +
            (failed + open > 0 ? QStringLiteral("可用 --resume 重新下载未完成的项。") : QString()));
        exitCode_ = signal_ != 0                    ? TerminalExit::SignalBase + signal_
                    : failed + open > 0 || refused_ ? TerminalExit::Failed
                                                    : TerminalExit::Completed;
        QCoreApplication::exit(exitCode_);
    }

    void showProgress() {
        if (finished_)
            return;
        int counts[5] = {};
        qint64 received = 0;
        for (int row = 1; row <= list_.Count(); ++row) {
            const int state = list_.SmallIcon(row);
            if (state >= 1 && state <= 4)
                ++counts[state];
            if (state == ItemState::Downloading)
                received += list_.SubItem(row, DownloadColumn::Received).toLongLong();
        }
        writeTo(stdout, QStringLiteral("\r\x1b[K总数：%1  正在下载：%2（已接收 %3 KB）  等待：%4  "
                                       "已完成：%5  失败：%6")
                            .arg(list_.Count())
                            .arg(counts[ItemState::Downloading])
                            .arg(received / 1024)
                            .arg(counts[ItemState::Waiting])
                            .arg(counts[ItemState::Completed])
                            .arg(counts[ItemState::Failed]));
        progressShown_ = true;
    }

    void line(const QString& text) {
        ClearProgress();
        writeTo(stdout, text + QLatin1Char('\n'));
    }

    DownloadSession& session_;
    KeyedListModel& list_;
    const bool showProgress_;
    QHash<QString, bool> ended_;
    QSet<QString> toldChecks_;
    QString lastEndedHost_;
    bool progressShown_ = false;
    bool finished_ = false;
    bool refused_ = false;
    int signal_ = 0;
    int exitCode_ = TerminalExit::Failed;
};

int badInput(const QString& message) {
    writeTo(stderr, QStringLiteral("quillfetch：") + message + QLatin1Char('\n'));
    return TerminalExit::BadInput;
}

} // namespace

TerminalArguments ParseTerminalArguments(const QStringList& arguments) {
    TerminalArguments parsed;
    const auto bad = [&parsed](const QString& why) {
        parsed.kind = TerminalArguments::Kind::Bad;
        parsed.error = why;
        return parsed;
    };
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        parsed.kind = TerminalArguments::Kind::Help;
        return parsed;
    }
    TerminalOptions& options = parsed.options;
    QSet<QString> given;
    bool terminal = false;
    bool desktopOption = false;
    for (qsizetype n = 0; n < arguments.size(); ++n) {
        const QString& argument = arguments.at(n);
        if (const int desktop = desktopStartOption(argument)) {
            desktopOption = true;
            n += desktop - 1; // "-platform offscreen": the value is Qt's too
            continue;
        }
        if (!argument.startsWith(QLatin1String("--")))
            return bad(QStringLiteral("多余的参数“%1”").arg(argument));
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        const bool inlineValue = argument.contains(QLatin1Char('='));
        static const QSet<QString> withValue{"--download", "--folder", "--mode", "--threads",
                                             "--same-name"};
        if (!withValue.contains(name) && name != QLatin1String("--resume"))
            return bad(QStringLiteral("未知的选项“%1”").arg(name));
        if (given.contains(name))
            return bad(QStringLiteral("选项 %1 只能给出一次").arg(name));
        given.insert(name);
        terminal = true;
        if (name == QLatin1String("--resume")) {
            if (inlineValue)
                return bad(QStringLiteral("选项 --resume 不带值"));
            options.resume = true;
            continue;
        }
        QString value;
        if (inlineValue) {
            value = argument.section(QLatin1Char('='), 1);
        } else if (n + 1 < arguments.size() &&
                   !arguments.at(n + 1).startsWith(QLatin1String("--"))) {
            value = arguments.at(++n);
        } else {
            return bad(QStringLiteral("选项 %1 缺少值").arg(name));
        }
        if (value.isEmpty())
            return bad(QStringLiteral("选项 %1 的值为空").arg(name));
        if (name == QLatin1String("--download")) {
            options.file = value;
        } else if (name == QLatin1String("--folder")) {
            options.folder = value;
        } else if (name == QLatin1String("--mode")) {
            if (value != QLatin1String("1") && value != QLatin1String("2"))
                return bad(
                    QStringLiteral("--mode 只能是 1（单线程）或 2（多线程），不是“%1”").arg(value));
            options.mode = value.toInt();
        } else if (name == QLatin1String("--threads")) {
            bool ok = false;
            const int threads = value.toInt(&ok);
            if (!ok || threads < 1 || threads > 6)
                return bad(QStringLiteral("--threads 只能是 1 到 6，不是“%1”").arg(value));
            options.threads = threads;
        } else {
            options.sameName = sameNameOf(value);
            if (!options.sameName)
                return bad(QStringLiteral("--same-name 只能是 skip、overwrite 或 rename，不是“%1”")
                               .arg(value));
        }
    }
    if (!terminal)
        return parsed; // the desktop start, with Qt's own options if any
    if (desktopOption)
        return bad(QStringLiteral("窗口选项不能与 --download 一起使用"));
    if (options.file.isEmpty() && !options.resume)
        return bad(QStringLiteral("缺少 --download FILE（要下载的链接或文献文件）"));
    parsed.kind = TerminalArguments::Kind::Download;
    return parsed;
}

QString TerminalHelpText() {
    return QStringLiteral(
        "用法：\n"
        "  quillfetch                启动桌面程序（资料检索与文件下载窗口）\n"
        "  quillfetch --download FILE [--folder DIR] [--mode 1|2] [--threads N]\n"
        "             [--same-name skip|overwrite|rename] [--resume]\n"
        "                            不开窗口，在终端中下载 FILE 列出的文献\n"
        "  quillfetch --help         显示本说明\n"
        "\n"
        "FILE：每行一个链接或 DOI，或 RIS、BibTeX、CSL-JSON 文献文件。\n"
        "  --folder DIR      保存文件夹（默认：桌面程序中设置的默认保存路径）\n"
        "  --mode 1|2        1 单线程，2 多线程（默认：桌面程序的下载方式）\n"
        "  --threads N       多线程时的线程数，1 到 6（默认：桌面程序的线程数）\n"
        "  --same-name R     同名文件：skip 跳过，overwrite 覆盖，rename 重命名\n"
        "                    （默认：桌面程序的选择）\n"
        "  --resume          先恢复上次未完成的下载列表（已下载的部分续传）；\n"
        "                    不给 FILE 时只下载恢复的项\n"
        "\n"
        "使用桌面程序中保存的登录（浏览器的 Cookie）、网站下载间隔与暂停规则，并写下载列表记录。\n"
        "每一项结束时输出一行：状态、文件名、原因（以制表符分隔）；在终端中另有一行进度。\n"
        "遇到网站的人机验证时，该网站的项停止：验证只能在桌面程序中完成。\n"
        "Ctrl+C 停止下载，保留已下载的部分和下载列表记录，之后可用 --resume 继续。\n"
        "\n"
        "退出码：0 全部完成；1 有失败、未完成的项或无法下载的条目；2 参数或文件有误（未写入任何"
        "内容）；130 被 Ctrl+C 中止（其他信号为 128 + 信号编号）。\n");
}

QString DefaultBrowserUserAgent() {
    // What Qt WebEngine's profile sends unless it is told otherwise; reading it from a profile
    // would start the browser, which a terminal run must not do.
    return QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                          "Gecko) QtWebEngine/%1 Chrome/%2 Safari/537.36")
        .arg(QString::fromLatin1(qWebEngineVersion()),
             QString::fromLatin1(qWebEngineChromiumVersion()));
}

int RunTerminalDownload(const TerminalOptions& options) {
    // Everything that can be wrong with the input is found before anything is written.
    CitationFileContents contents;
    QList<int> refusedLines;
    if (!options.file.isEmpty()) {
        const QString path = absolutePath(options.file);
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
            return badInput(QStringLiteral("无法读取文件 %1").arg(path) +
                            (file.errorString().isEmpty() || QFileInfo(path).isDir()
                                 ? QString()
                                 : QStringLiteral("：") + file.errorString()));
        contents = ParseCitationFile(path, file.readAll());
        if (!contents.error.isEmpty())
            return badInput(QStringLiteral("%1：%2").arg(path, contents.error));
        refusedLines = contents.unusableLines;
        int usable = 0;
        for (const ImportedCitation& entry : contents.entries) {
            const QString link = ImportedArticleLink(entry);
            if (link.isEmpty() || !IsWebAddress(link))
                refusedLines << entry.line;
            else
                ++usable;
        }
        if (usable == 0 && !options.resume)
            return badInput(QStringLiteral("%1 中没有可下载的链接或 DOI").arg(path));
    }
    // The store makes its folder when it is first read: a first run with bad input leaves
    // none behind.
    const QString settingsFolder = QDir::cleanPath(SettingsStore::DefaultFolder());
    QString missingFrom = settingsFolder; // the outermost folder the store would make
    while (!QFileInfo::exists(QFileInfo(missingFrom).path()) &&
           QFileInfo(missingFrom).path() != missingFrom)
        missingFrom = QFileInfo(missingFrom).path();
    const bool settingsFolderExisted = QFileInfo::exists(settingsFolder);
    auto store = std::make_unique<SettingsStore>();
    SettingsStore& settings = *store;
    const StoredChoices stored = readStoredChoices(settings);
    const auto badInputAfterSettings = [&](const QString& message) {
        store.reset(); // it writes its folder as it goes
        for (QString made = settingsFolder; !settingsFolderExisted && made.startsWith(missingFrom);
             made = QFileInfo(made).path()) {
            if (!QDir().rmdir(made))
                break;
        }
        return badInput(message);
    };
    QString folder = options.folder.isEmpty() ? stored.folder : absolutePath(options.folder);
    if (QFileInfo(folder).exists() && !QFileInfo(folder).isDir())
        return badInputAfterSettings(QStringLiteral("保存文件夹 %1 是一个文件").arg(folder));
    folder = WithTrailingSlash(folder);

    SystemClock clock;
    TerminalPrompt prompt;
    Services() = AppServices{&prompt, &clock, nullptr, nullptr, &settings, nullptr};
    ProgramValues& program = Program();
    program.DownloadMode = options.mode != 0 ? options.mode : stored.mode;
    program.DefaultSaveFolder = stored.folder;
    program.SameNamePolicy = settings.Read(Keys::SameNamePolicy);
    program.ProxyAddress = settings.Read(Keys::ProxyAddress);
    program.ProxyPort = settings.Read(Keys::ProxyPort);
    int proxy = 0;
    program.ProxyEnabled = settings.ReadInt(Keys::ProxyEnabled, proxy) && proxy == 1;

    // The login of the desktop program's browser, and the browser's User-Agent.
    QNetworkCookieJar* jar = TransferCookieJar();
    for (const QNetworkCookie& cookie : ReadStoredCookies(StoredCookiesPath(BrowserStoragePath())))
        jar->insertCookie(cookie);
    SetTransferUserAgent(DefaultBrowserUserAgent());

    auto* session = new DownloadSession;
    DownloadOptions& chosen = session->Options();
    chosen.threadCount = options.threads != 0 ? options.threads : stored.threads;
    chosen.gapSeconds = stored.gapSeconds;
    chosen.sameName = options.sameName.value_or(stored.sameName);
    chosen.autoStop = stored.autoStop;
    // Automatic start and re-download would go round the same failures unattended.
    chosen.autoStart = false;
    chosen.autoRedownload = false;
    chosen.sound = false;
    chosen.handOverChecks = false;

    TerminalRun run(*session, ::isatty(STDOUT_FILENO) == 1);
    prompt.before = [&run] {
        run.ClearProgress();
    };
    session->SetUpJournal();
    if (options.resume) {
        if (session->CarriedUnfinished() == 0 && contents.entries.isEmpty()) {
            const QString why = session->JournalInUse()
                                    ? session->JournalProblem()
                                    : QStringLiteral("没有上次未完成的下载列表可以恢复");
            delete session;
            Services() = AppServices{};
            return badInputAfterSettings(why);
        }
        session->RestoreCarriedRows();
        // The rows that failed or brought a web page go again: a resumed run is to finish the
        // list (a stopped row keeps the part it had).
        RequeueFailedAndWebPageRows(*session->ListItems3);
    } else if (const int carried = session->CarriedUnfinished(); carried > 0) {
        run.say(QStringLiteral("上次的下载列表还有%1项未完成，本次不恢复：可用 --resume 恢复，"
                               "或在桌面程序中从菜单恢复。")
                    .arg(carried));
    }
    // The last list stays offered (a row of it named again comes back with its progress).
    prompt.quiet = true;
    session->AddImportedRows(ImportedRows(contents, Program().UseLinkFileName), folder);
    prompt.quiet = false;
    for (const int line : refusedLines)
        writeTo(stdout, QStringLiteral("略过\t第%1行\t条目没有可下载的链接或 DOI\n").arg(line));
    run.SetEntriesRefused(!refusedLines.isEmpty());

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &run);
        QObject::connect(notifier, &QSocketNotifier::activated, &run, [&run] {
            char byte = 0;
            if (::read(g_signalPipe[0], &byte, 1) == 1)
                run.Interrupt(byte);
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGHUP, &action, nullptr);
    }
    // A reader of the lines that went away (`| head`) does not end the downloads.
    ::signal(SIGPIPE, SIG_IGN);

    run.Start();
    QCoreApplication::exec();
    const int code = run.ExitCode();
    session->WriteJournalNow();
    delete session;
    settings.Sync();
    Services() = AppServices{};
    return code;
}
