#pragma once

#include <QString>

// Which links the program itself may fetch, list or navigate to: web addresses only. A
// "javascript:" link would run in whatever page is shown, and "file:", "data:" or a desktop
// scheme would hand the link's author the user's files or programs.

// True for an absolute "http://" or "https://" address (scheme in any letter case) with a
// host and without control characters (a line break in a link would end a request's line).
// Nothing is trimmed or completed: the text is taken as it would be fetched.
bool IsWebAddress(const QString& link);

// Why a link is refused, in the user's words, naming the link (shortened when very long).
QString NotWebAddressReason(const QString& link);
