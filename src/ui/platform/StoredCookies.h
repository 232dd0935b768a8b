#pragma once

#include <QDateTime>
#include <QList>
#include <QNetworkCookie>
#include <QString>

// The cookies a browser profile kept on disk from earlier runs, read from its cookie database
// (an SQLite file "Cookies" in the profile's persistent storage folder, unencrypted in Qt
// WebEngine). The web engine reads that file itself but tells the program nothing of what it
// read, so without this a login of an earlier run would reach the transfers only once the site
// set its cookies again.
//
// The database is copied first (the browser may be writing it) and read from the copy. What the
// browser itself would load is taken: expired cookies are skipped, cookies without expiry
// (session cookies the profile keeps) are taken as session cookies, encrypted values that cannot
// be read are skipped. A missing or unreadable database reads as no cookies.
QList<QNetworkCookie> ReadStoredCookies(const QString& databasePath,
                                        const QDateTime& now = QDateTime::currentDateTimeUtc());

// The database file of a profile whose persistent storage is `storagePath`.
QString StoredCookiesPath(const QString& storagePath);
