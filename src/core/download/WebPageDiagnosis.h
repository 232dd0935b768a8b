#pragma once

#include "core/transfer/FileOwnership.h"

#include <QByteArray>
#include <QString>

#include <optional>

class KeyedListModel;

// What a web page that a transfer brought instead of the file is. The list shows each kind
// apart, and each calls for its own reaction: log in again, hand the check to the user, leave
// the site alone for a while, or give up on the row.
enum class WebPageKind {
    LoginWall, // a sign-in form, or the institution's gateway
    BotCheck,  // a "checking your browser" interstitial
    Refusal,   // access refused, too many requests, access suspended
    NotFound,  // the article is not there
    Other,     // some other page
};

// What the transfer saw of the page.
struct ReceivedPage {
    int status = 0;         // the HTTP status; 0 when unknown
    QByteArray cfMitigated; // the "cf-mitigated" header, "" when absent
    QString finalUrl;       // where the transfer ended up after redirects
    QByteArray head;        // the page's first bytes (kWebPageHeadBytes at most are read)
};

// How much of a page the diagnosis reads: gateways put their form well past the first few KB.
inline constexpr qint64 kWebPageHeadBytes = 64 * 1024;

// Reads the page the way a person glancing at it would. `loginAddress` is the login panel's
// gateway address ("" when none is set); a page on its host counts as a login wall.
WebPageKind DiagnoseWebPage(const ReceivedPage& page, const QString& loginAddress);

// The commit's test for a bot check (CommitRule::botCheck): the body's first bytes and the
// answer's headers, read as DiagnoseWebPage reads them.
CheckJudge BotCheckJudge();

// The row's failure reason for each kind, in the user's words.
QString WebPageKindText(WebPageKind kind);

// The first kWebPageHeadBytes of the file at `path`; "" when it cannot be read.
QByteArray ReadWebPageHead(const QString& path);

// The kind of page the row's last transfer brought instead of its file; none when it brought
// a file (or nothing yet).
std::optional<WebPageKind> RowWebPageKind(const KeyedListModel& list, int position);
void SetRowWebPageKind(KeyedListModel& list, int position, std::optional<WebPageKind> kind);

// The status bar's counts, with the rows that brought a web page shown apart from the
// completed and failed ones: "总数：N|正在下载：N|等待：N|已完成：N|失败：N", and "|网页：N"
// when there are any.
QString StatusCountsWithPagesText(const KeyedListModel& list);
