#pragma once

#include "core/transfer/FileOwnership.h"

#include <QString>

// What a downloaded file really is, judged from its bytes rather than from its link or the
// server's word. The answer is the extension to give the file, in lower case: "pdf", "caj",
// "kdh", "nh", "tif", "exe", "rar", "zip", "docx", "swf", "rm", "wma", "mp3", "png", "gif",
// "jpg", "doc", "xls", "ppt", "htm", "caa"; or "" when the bytes do not tell.
//
// The signatures are tried in a fixed order on the first 10240 bytes, which are followed by
// one zero byte: a signature may look at positions 0 to min(size, 10240). When the first
// signature that needs a position beyond that is reached, the answer is "" and nothing after
// it is tried (so a file shorter than 15 bytes that none of the short signatures know ends
// there, and so does a compound document shorter than 515 bytes). After the signatures:
//  - a file over 128 bytes whose last 128 begin with "TAG" (an ID3v1 block) is "mp3";
//  - a file under 200 KB whose first 10240 bytes, read as GB18030 text, hold "<html " or
//    "html>" and one of "<title>", "<head>", "<body>" (letter case ignored) is "htm";
//  - a file under 3 KB that holds every one of "A1=", "[TARGET]", "A2=", "B1=", "B2=",
//    "C1=", "C2=", "D1=", "D2=", "DOCTYPE=" (letter case ignored) is "caa".
//
// At most 10240 bytes from the start and 128 from the end are read. Anything that is not a
// regular file (missing, a folder, a pipe or a device, which could block or never end)
// and any read failure answer "" without a message.
QString ClassifyFileType(const QString& path);

// How a complete body at `path` compares with the kind its row asked for (`expectedType`, the
// row's type column), before it may take a name:
//  - Expected only by a positive signature of the table above for that type (a PDF starts with
//    "%PDF-"); a type the table does not know can never be confirmed;
//  - WebPage when the bytes classify as "htm", or when the answer called itself a page
//    (`contentType` text/html, application/xhtml+xml or application/json) and the bytes are
//    not of the row's kind, whatever the size;
//  - Other for anything else.
BodyKind JudgeBody(const QString& path, const QString& expectedType, const QString& contentType);
