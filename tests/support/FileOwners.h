#pragma once

#include "core/transfer/FileOwnership.h"

#include <QFile>
#include <QStringList>

#include <unistd.h>

// The owners a file at a row's name can have, set up on real files. Only the row's own file,
// unchanged since its commit, is the row's to replace, rename or delete.
inline const QStringList& FileOwnerKinds() {
    static const QStringList kinds{"the user's file", "a link to the user's file",
                                   "a hard link to the user's file", "the row's file changed since",
                                   "the row's own file"};
    return kinds;
}

inline bool RowOwns(const QString& kind) {
    return kind == QLatin1String("the row's own file");
}

// Puts a file of `kind` holding `bytes` at `path` (the user's file that a link or a hard link
// names lies at `usersFile`, outside the save folder) and returns what the row's commit
// recorded: nothing for the user's files.
inline OwnedFile PlaceFileOfOwner(const QString& kind, const QString& path, const QByteArray& bytes,
                                  const QString& usersFile) {
    const auto write = [](const QString& at, const QByteArray& content) {
        QFile file(at);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    if (kind.startsWith(QLatin1String("a link"))) {
        write(usersFile, bytes);
        QFile::link(usersFile, path);
        return {};
    }
    if (kind.startsWith(QLatin1String("a hard link"))) {
        write(usersFile, bytes);
        ::link(QFile::encodeName(usersFile).constData(), QFile::encodeName(path).constData());
        return {};
    }
    write(path, bytes);
    if (kind == QLatin1String("the user's file"))
        return {};
    const OwnedFile recorded = IdentityAt(path);
    // The user saved notes into it after the download.
    if (kind == QLatin1String("the row's file changed since"))
        write(path, bytes + " and the user's notes");
    return recorded;
}
