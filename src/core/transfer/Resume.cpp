#include "core/transfer/Resume.h"

#include <QStringList>

#include <algorithm>

namespace {

bool parseCount(const QString& text, qint64& value) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() ||
        !std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c >= '0' && c <= '9'; }))
        return false;
    bool ok = false;
    value = trimmed.toLongLong(&ok);
    return ok;
}

} // namespace

QString ResumeValidator(const QString& etag, const QString& lastModified) {
    const QString tag = etag.trimmed();
    if (tag.size() >= 2 && tag.startsWith(QLatin1Char('"')) && tag.endsWith(QLatin1Char('"')))
        return tag;
    return lastModified.trimmed();
}

QString ResumeHeaderBlock(qint64 held, const QString& validator) {
    QString value = validator;
    value.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return QStringLiteral("Range: bytes=%1-\r\nIf-Range: %2\r\n").arg(held).arg(value);
}

qint64 ContentRangeTotal(const QString& contentRange, qint64* first) {
    const QString text = contentRange.trimmed();
    if (!text.startsWith(QLatin1String("bytes "), Qt::CaseInsensitive))
        return -1;
    const QStringList parts = text.mid(6).split(QLatin1Char('/'));
    if (parts.size() != 2)
        return -1;
    const QStringList span = parts[0].split(QLatin1Char('-'));
    qint64 from = 0;
    qint64 to = 0;
    qint64 total = 0;
    if (span.size() != 2 || !parseCount(span[0], from) || !parseCount(span[1], to) ||
        !parseCount(parts[1], total) || from > to || to >= total)
        return -1;
    if (first)
        *first = from;
    return total;
}

ResumeAnswer ClassifyResumeAnswer(int status, const QString& contentRange, qint64 held,
                                  qint64 total, const QString& answerValidator,
                                  const QString& storedValidator) {
    if (status == 416)
        return ResumeAnswer::Restart;
    if (status != 206)
        return ResumeAnswer::Fresh;
    qint64 first = -1;
    const qint64 whole = ContentRangeTotal(contentRange, &first);
    if (whole != total || first != held || storedValidator.isEmpty() ||
        answerValidator != storedValidator)
        return ResumeAnswer::Restart;
    return ResumeAnswer::Append;
}
