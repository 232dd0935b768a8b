#pragma once

#include "core/transfer/Inet.h"

#include <QString>

// The rules of the single-connection transfer that need no window: how a Content-Type names
// a file type, the site a link belongs to, the connection settings for a link, and the texts
// that show the transfer control's state.

// The file type a Content-Type value (without its parameters) stands for: "pdf" for
// "application/pdf", "tif" for "image/tiff", "" for "application/octet-stream" (the caller
// keeps the type it had), the main type for a known main type with "" or "*" as subtype, and
// the whole value unchanged for anything the table does not know. Main type and subtype are
// compared in lower case, the subtype without any blanks.
QString ContentTypeToType(const QString& contentType);

// The Content-Type header as ContentTypeToType takes it: trimmed, without ";" and what
// follows.
QString ContentTypeWithoutParameters(const QString& header);

// The file type the table gives a Content-Type value (without its parameters), for the
// file's extension: "" when the table has no row for it (a value without "/", with path
// characters, or any type the table does not name) and for "application/octet-stream". A
// server's own words never become an extension; the caller keeps the row's type.
QString FileTypeForContentType(const QString& contentType);

// True for an extension the program knows: one the Content-Type table gives, or one the type
// check of a file's first bytes answers. Exact, lower case.
bool IsUsableFileType(const QString& type);

// The scheme, "://", host and port of a link, without a "/" at the end ("http://a.org:81"
// for "http://a.org:81/x/y"). A link without "://" gives the text before its first "/" when
// that "/" is the fourth character or later, else the whole link.
QString SiteRoot(const QString& link);

// The header block of the first request: "Referer: " and the page the link was found on
// (`page`), or the link's SiteRoot when the page is unknown, then CR LF. Line breaks and other
// control characters of the page or link are dropped.
QString RefererHeaderBlock(const QString& page, const QString& link);

// The announced body length: the trimmed "content-length" value when it is a number, else 0.
double AnnouncedLength(const QString& contentLength);

// "16%" for 2048 of 12345: the whole-number part of received / total × 100. "" when the
// total is not above 0.
QString PercentText(double received, double total);

struct SingleTransferConnection {
    Inet::AccessTypes accessType = Inet::AccessTypes::UseDefault;
    QString proxy;
    int remotePort = 80;
    Inet::Protocols protocol = Inet::Protocols::HTTP;
};

// The transfer control's settings for `link`. With the proxy on: the named proxy
// "address:port" and the proxy's port; otherwise the default settings and the port written
// after the host (80 when there is none or it is no number). An https link always gets
// HTTPS and port 443.
SingleTransferConnection ConnectionSettingsFor(const QString& link, bool proxyEnabled,
                                               const QString& proxyAddress,
                                               const QString& proxyPort);

// The text panel 3 of the download window shows for a state of the transfer control;
// `responseCode` and `responseInfo` are the control's, used by state 11 and unknown states.
QString InetStateText(int state, int responseCode, const QString& responseInfo);
