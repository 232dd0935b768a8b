#include "core/transfer/SingleTransfer.h"

#include "core/app/FileHelpers.h"

#include <QSet>
#include <QStringList>

#include <optional>

#include <cmath>

namespace {

// A number as the transfer's texts allow one: blanks around it, a sign, a fraction or an
// exponent; never infinity or "nan".
bool parseNumber(const QString& text, double& value) {
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool parsePort(const QString& text, int& port) {
    double value = 0;
    if (!parseNumber(text, value))
        return false;
    const double rounded = std::round(value);
    if (rounded < 0 || rounded > 65535)
        return false;
    port = int(rounded);
    return true;
}

QString withoutBlanks(QString text) {
    text.remove(' ');
    return text;
}

bool isOneOf(const QString& text, std::initializer_list<const char*> words) {
    for (const char* word : words) {
        if (text == QLatin1String(word))
            return true;
    }
    return false;
}

// The table's row for a Content-Type; nullopt when it has none (the value is then kept whole
// for the type column, but names no file type).
std::optional<QString> tableType(const QString& contentType) {
    const QStringList parts = contentType.split('/');
    if (parts.size() != 2)
        return std::nullopt;
    const QString main = TrimSpaces(parts[0]).toLower();
    const QString sub = withoutBlanks(TrimSpaces(parts[1])).toLower();

    if (main == QLatin1String("application")) {
        if (sub == QLatin1String("octet-stream"))
            return QString();
        if (sub == QLatin1String("x-shockwave-flash"))
            return QStringLiteral("swf");
        if (sub == QLatin1String("x-javascript"))
            return QStringLiteral("js");
        if (sub == QLatin1String("vnd.ms-wpl"))
            return QStringLiteral("wpl");
        if (isOneOf(sub, {"vnd.rn-realmedia", "kdh", "caj", "pdf", "caa", "nh"}))
            return sub;
    } else if (main == QLatin1String("text")) {
        if (isOneOf(sub, {"html", "txt", "htm", "xml", "css", "plain"}))
            return sub;
    } else if (main == QLatin1String("image")) {
        if (isOneOf(sub, {"jpg", "jpeg", "gif", "png", "bmp", "tif", "pjpeg", "g3fax", "ief"}))
            return sub;
        if (sub == QLatin1String("tiff"))
            return QStringLiteral("tif");
        if (sub == QLatin1String("x-png"))
            return QStringLiteral("png");
        if (sub == QLatin1String("x-ms-bmp"))
            return QStringLiteral("bmp");
        if (sub == QLatin1String("x-icon"))
            return QStringLiteral("ico");
    } else if (main == QLatin1String("video")) {
        if (isOneOf(sub, {"mpeg", "quicktime"}))
            return sub;
        if (sub == QLatin1String("mpeg4"))
            return QStringLiteral("mp4");
        if (sub == QLatin1String("x-msvideo"))
            return QStringLiteral("avi");
        if (sub == QLatin1String("x-ms-asf"))
            return QStringLiteral("asf");
    } else if (main == QLatin1String("audio")) {
        if (isOneOf(sub, {"amr", "x-mpegurl"}))
            return sub;
        if (sub == QLatin1String("x-ms-wma"))
            return QStringLiteral("wma");
        if (sub == QLatin1String("x-wav"))
            return QStringLiteral("wav");
        if (sub == QLatin1String("x-pn-realaudio"))
            return QStringLiteral("ram");
        if (sub == QLatin1String("midi"))
            return QStringLiteral("mid");
    } else {
        return std::nullopt;
    }
    if (sub.isEmpty() || sub == QLatin1String("*"))
        return main;
    return std::nullopt;
}

} // namespace

QString ContentTypeToType(const QString& contentType) {
    return tableType(contentType).value_or(contentType);
}

QString FileTypeForContentType(const QString& contentType) {
    const QString type = tableType(contentType).value_or(QString());
    return IsUsableFileType(type) ? type : QString();
}

QString ContentTypeWithoutParameters(const QString& header) {
    QString value = TrimSpaces(header);
    const qsizetype semicolon = value.indexOf(';');
    if (semicolon >= 0)
        value = TrimSpaces(value.left(semicolon));
    return value;
}

bool IsUsableFileType(const QString& type) {
    // What the table above can answer, and what the type check of a file's first bytes can.
    static const QSet<QString> known{"swf",         "js",    "wpl",       "vnd.rn-realmedia",
                                     "kdh",         "caj",   "pdf",       "caa",
                                     "nh",          "html",  "txt",       "htm",
                                     "xml",         "css",   "plain",     "jpg",
                                     "jpeg",        "gif",   "png",       "bmp",
                                     "tif",         "pjpeg", "g3fax",     "ief",
                                     "ico",         "mpeg",  "quicktime", "mp4",
                                     "avi",         "asf",   "amr",       "x-mpegurl",
                                     "wma",         "wav",   "ram",       "mid",
                                     "application", "text",  "image",     "video",
                                     "audio",       "exe",   "rar",       "zip",
                                     "docx",        "rm",    "mp3",       "doc",
                                     "xls",         "ppt"};
    return known.contains(type);
}

QString SiteRoot(const QString& link) {
    const qsizetype scheme = link.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        const qsizetype slash = link.indexOf('/', scheme + 3);
        return slash < 0 ? link : link.left(slash);
    }
    const qsizetype slash = link.indexOf('/');
    return slash >= 3 ? link.left(slash) : link;
}

QString RefererHeaderBlock(const QString& page, const QString& link) {
    QString referer = page.isEmpty() ? SiteRoot(link) : page;
    // A line break would start a header of its own (the block is split into lines).
    referer.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return QStringLiteral("Referer: ") + referer + QStringLiteral("\r\n");
}

double AnnouncedLength(const QString& contentLength) {
    double value = 0;
    return parseNumber(TrimSpaces(contentLength), value) ? value : 0.0;
}

QString PercentText(double received, double total) {
    if (!(total > 0))
        return {};
    return QString::number(std::floor(received / total * 100.0), 'f', 0) + '%';
}

SingleTransferConnection ConnectionSettingsFor(const QString& link, bool proxyEnabled,
                                               const QString& proxyAddress,
                                               const QString& proxyPort) {
    SingleTransferConnection settings;
    if (proxyEnabled) {
        settings.accessType = Inet::AccessTypes::NamedProxy;
        // A port that is no number leaves the default in place.
        parsePort(proxyPort, settings.remotePort);
        settings.proxy = proxyAddress + ':' + proxyPort;
    } else {
        settings.accessType = Inet::AccessTypes::UseDefault;
        settings.proxy.clear();
        // The host and port follow "http://" or "https://"; the first character after them
        // is skipped, so a "/" there (a one-character host) means no port was written.
        const qsizetype slash = link.indexOf('/', 8);
        settings.remotePort = 80;
        if (slash > 8) {
            const QStringList parts = link.mid(8, slash - 8).split(':');
            int port = 0;
            if (parts.size() == 2 && parsePort(parts[1], port))
                settings.remotePort = port;
        }
    }
    if (link.left(8).toLower() == QLatin1String("https://")) {
        settings.protocol = Inet::Protocols::HTTPS;
        settings.remotePort = 443;
    } else {
        settings.protocol = Inet::Protocols::HTTP;
    }
    return settings;
}

QString InetStateText(int state, int responseCode, const QString& responseInfo) {
    switch (state) {
    case 0:
        return QStringLiteral("0 无状态可报告。");
    case 1:
        return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case 2:
        return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case 3:
        return QStringLiteral("3 正在与主机连接...");
    case 4:
        return QStringLiteral("4 已与主机连接成功。");
    case 5:
        return QStringLiteral("5 正在向主机发送请求...");
    case 6:
        return QStringLiteral("6 发送请求已成功。");
    case 7:
        return QStringLiteral("7 正在接收主机的响应...");
    case 8:
        return QStringLiteral("8 已成功地接收到主机的响应。");
    case 9:
        return QStringLiteral("9 正在解除与主机的连接...");
    case 10:
        return QStringLiteral("10 已成功地与主机解除了连接。");
    case 11:
        return QStringLiteral("11 与主机通讯时出现了错误:") + QString::number(responseCode) + ':' +
               responseInfo;
    case 12:
        return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    default:
        return QString::number(responseCode) + ':' + responseInfo;
    }
}
