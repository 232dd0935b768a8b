#include "ui/platform/StoredCookies.h"

#include <QAtomicInt>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

namespace {

// Chromium counts time in microseconds since 1601-01-01 UTC.
constexpr qint64 kUnixEpochInChromiumMicroseconds = 11644473600LL * 1000 * 1000;

// Chromium's same-site values: -1 unspecified, 0 none, 1 lax, 2 strict.
QNetworkCookie::SameSite sameSiteOf(int value) {
    switch (value) {
    case 0:
        return QNetworkCookie::SameSite::None;
    case 1:
        return QNetworkCookie::SameSite::Lax;
    case 2:
        return QNetworkCookie::SameSite::Strict;
    default:
        return QNetworkCookie::SameSite::Default;
    }
}

// The database and the journal beside it: a journal left by a write in progress is rolled back
// when the copy opens, so the copy reads as the last complete state.
bool copyDatabase(const QString& from, const QString& to) {
    if (!QFile::copy(from, to))
        return false;
    for (const char* suffix : {"-journal", "-wal"}) {
        const QString side = from + QLatin1String(suffix);
        if (QFile::exists(side))
            QFile::copy(side, to + QLatin1String(suffix));
    }
    return true;
}

QList<QNetworkCookie> readCopy(const QSqlDatabase& database, const QDateTime& now) {
    QList<QNetworkCookie> cookies;
    QSqlQuery query(database);
    // Older databases have no same-site column.
    const bool withSameSite =
        query.exec(QStringLiteral("SELECT host_key, name, value, path, expires_utc, is_secure, "
                                  "is_httponly, length(encrypted_value), samesite FROM cookies"));
    if (!withSameSite &&
        !query.exec(QStringLiteral("SELECT host_key, name, value, path, expires_utc, is_secure, "
                                   "is_httponly, length(encrypted_value) FROM cookies")))
        return cookies;
    while (query.next()) {
        const QString host = query.value(0).toString();
        const QByteArray name = query.value(1).toString().toUtf8();
        const QByteArray value = query.value(2).toString().toUtf8();
        if (host.isEmpty() || name.isEmpty())
            continue;
        // An encrypted value needs a key this program does not have; an empty value in its
        // place would log the user out rather than in.
        if (value.isEmpty() && query.value(7).toLongLong() > 0)
            continue;
        QNetworkCookie cookie(name, value);
        // A leading dot marks a cookie for the domain and its subdomains; without it the
        // cookie belongs to that host alone, which is how the jar reads a domain without dot.
        cookie.setDomain(host);
        cookie.setPath(query.value(3).toString().isEmpty() ? QStringLiteral("/")
                                                           : query.value(3).toString());
        const qint64 expires = query.value(4).toLongLong();
        if (expires != 0) {
            const QDateTime expiry = QDateTime::fromMSecsSinceEpoch(
                (expires - kUnixEpochInChromiumMicroseconds) / 1000, Qt::UTC);
            if (expiry <= now)
                continue;
            cookie.setExpirationDate(expiry);
        }
        cookie.setSecure(query.value(5).toInt() != 0);
        cookie.setHttpOnly(query.value(6).toInt() != 0);
        if (withSameSite)
            cookie.setSameSitePolicy(sameSiteOf(query.value(8).toInt()));
        cookies.append(cookie);
    }
    return cookies;
}

} // namespace

QString StoredCookiesPath(const QString& storagePath) {
    return storagePath.isEmpty() ? QString() : storagePath + QStringLiteral("/Cookies");
}

QList<QNetworkCookie> ReadStoredCookies(const QString& databasePath, const QDateTime& now) {
    if (databasePath.isEmpty() || !QFile::exists(databasePath) ||
        !QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return {};
    QTemporaryDir copyFolder;
    const QString copy = copyFolder.filePath(QStringLiteral("Cookies"));
    if (!copyFolder.isValid() || !copyDatabase(databasePath, copy))
        return {};

    static QAtomicInt serial;
    const QString connection =
        QStringLiteral("quillfetch-stored-cookies-%1").arg(serial.fetchAndAddRelaxed(1));
    QList<QNetworkCookie> cookies;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(copy);
        if (database.open())
            cookies = readCopy(database, now);
        database.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return cookies;
}
