#pragma once

#include <QString>

// What an interrupted transfer keeps so that starting it again asks only for the rest: its
// temporary body (the first bytes, in order) and what the server said the whole body was.
// Without a validator nothing is resumed: a body that may have changed is fetched whole.
struct ResumePoint {
    QString partPath;  // the temporary body beside the target
    QString validator; // a strong ETag, else Last-Modified, exactly as the server sent it
    qint64 total = -1; // the whole body's length

    bool IsUsable() const { return !partPath.isEmpty() && !validator.isEmpty() && total > 0; }
};

// The validator an answer offers for If-Range: its ETag when that is a strong one (a weak
// "W/" tag never matches a range), else its Last-Modified; "" when it has neither.
QString ResumeValidator(const QString& etag, const QString& lastModified);

// "Range: bytes=<held>-" and "If-Range: <validator>", as a header block (CR LF after each).
// The validator's line breaks are dropped: they would start a header of their own.
QString ResumeHeaderBlock(qint64 held, const QString& validator);

// How an answer to a request for the rest is taken.
enum class ResumeAnswer {
    Append,  // 206 for exactly the bytes after those held, of the same whole body, whose
             // validator is the one stored with the part
    Fresh,   // the server sent the whole body (200: range ignored or the file changed) or no
             // body of the file at all: it goes into a fresh temporary file
    Restart, // 416, or a range that starts elsewhere or belongs to another length: ask again
             // from the first byte
};

// `contentRange` is the answer's Content-Range header; `held` the bytes the part holds and
// `total` the whole body's length recorded with it; `answerValidator` what the answer offers
// (ResumeValidator of its ETag and Last-Modified), `storedValidator` what the part was kept
// with. A 206 of another validator, or of none, is a range of some other body.
ResumeAnswer ClassifyResumeAnswer(int status, const QString& contentRange, qint64 held,
                                  qint64 total, const QString& answerValidator,
                                  const QString& storedValidator);

// The whole length in "bytes <first>-<last>/<total>"; -1 when it is not of that form (also
// "*" for the length, or a range that does not lie inside it).
qint64 ContentRangeTotal(const QString& contentRange, qint64* first = nullptr);
