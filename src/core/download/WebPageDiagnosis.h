#pragma once

#include <QByteArray>
#include <QString>

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

// The row's failure reason for each kind, in the user's words.
QString WebPageKindText(WebPageKind kind);
