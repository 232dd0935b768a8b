#include "core/app/WebAddress.h"

#include <QUrl>

bool IsWebAddress(const QString& link) {
    // The scheme is read from the text itself, and control characters are refused rather
    // than repaired: QUrl would take "http:x", or a link with a line break in it.
    if (!link.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !link.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return false;
    for (const QChar c : link) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    const QUrl url(link);
    return url.isValid() && !url.host().isEmpty();
}

QString NotWebAddressReason(const QString& link) {
    constexpr qsizetype kShownCharacters = 80;
    const QString shown =
        link.size() > kShownCharacters ? link.left(kShownCharacters) + QStringLiteral("…") : link;
    return QStringLiteral("不是 http 或 https 网址，未采用：") + shown;
}
