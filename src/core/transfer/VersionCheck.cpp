#include "core/transfer/VersionCheck.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "core/app/FileHelpers.h"

QString ProgramFileName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString VersionFileAddress(const QString& host, const QString& programName) {
    if (host.isEmpty())
        return {};
    return QStringLiteral("http://") + host + '/' + programName + QStringLiteral("/newver.txt");
}

QString ProgramPageAddress(const QString& host, const QString& programName) {
    if (host.isEmpty())
        return {};
    return QStringLiteral("http://") + host + '/' + programName + '/';
}

std::optional<QString> VersionFileText(const QString& responseText) {
    const QString text = TrimSpaces(responseText);
    if (text.isEmpty() || text.size() >= 11)
        return std::nullopt;
    return text;
}

float VersionNumber(float major, float minor, float revision) {
    // Worked out in double and rounded once at the end, as the comparison always was.
    const double sum = static_cast<double>(major) * 10000000.0 +
                       static_cast<double>(minor) * 10000.0 + static_cast<double>(revision);
    return static_cast<float>(sum);
}

std::optional<float> PublishedVersionNumber(const QString& versionText) {
    const QStringList parts = versionText.split('.');
    if (parts.size() != 3)
        return std::nullopt;
    static const QRegularExpression wholeNumber(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    float numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (!wholeNumber.match(parts[i]).hasMatch())
            return std::nullopt;
        bool ok = false;
        numbers[i] = parts[i].trimmed().toFloat(&ok);
        if (!ok)
            return std::nullopt;
    }
    return VersionNumber(numbers[0], numbers[1], numbers[2]);
}

bool IsNewerVersion(const QString& versionText, const ProgramVersion& own) {
    const std::optional<float> published = PublishedVersionNumber(versionText);
    if (!published)
        return false;
    return *published > VersionNumber(static_cast<float>(own.major), static_cast<float>(own.minor),
                                      static_cast<float>(own.revision));
}
