#pragma once

#include <QSet>
#include <QString>

// The files a transfer leaves in a save folder while it runs, and how the program knows them as
// its own afterwards (after a crash, say), so that it never counts them as a user's files:
// - the body on its way: a temporary file beside the target named ".quillfetch-<...>.part"
//   (a fixed pattern rather than an unnamed file, which not every file system offers);
// - the reservation: the two bytes 01 00 under the target's name, so that a second transfer of
//   the same moment picks another name.

// ".quillfetch-" and ".part": what every temporary body's file name starts and ends with.
QString PartFilePrefix();
QString PartFileSuffix();

// True for a file name (no folder) of the temporary-body pattern.
bool IsPartFileName(const QString& fileName);

// True when `path` itself (never what a link points to) is a regular file holding exactly the
// two reservation bytes 01 00.
bool IsReservation(const QString& path);

// A temporary body or a reservation: something a transfer of this program left, not a file
// the user had.
bool IsOwnLeftover(const QString& path);

// A fresh temporary-body file name (no folder): the pattern with a random middle.
QString NewPartFileName();

// Removes what earlier transfers left in `folder` (temporary bodies and reservations of a
// transfer that was killed or crashed), never following a link and never taking a file that a
// running transfer holds. Returns how many files went.
int RemoveOwnLeftovers(const QString& folder);

// RemoveOwnLeftovers, once per folder and run, before the first transfer writes there, and
// again before the next write after a kept body stopped being kept (see SetKeptPartFiles).
void CleanFolderBeforeWriting(const QString& folder);

// The temporary bodies that rows of the download list or its journal keep to resume from:
// the clean-up spares them. Replaces the whole set; a folder that held a body no longer in it
// is cleaned again before its next write, so that body goes then.
void SetKeptPartFiles(const QSet<QString>& paths);
bool IsKeptPartFile(const QString& path);

// Removes one temporary body: only a regular file of the program's pattern (never a link),
// and never one that a transfer holds. True when it went.
bool RemovePartFile(const QString& path);

// True while some transfer (of this program or a second copy of it) holds the temporary body
// at `path` locked: it is still being written or kept by its writer.
bool PartFileIsHeld(const QString& path);

// True when the program can create (and remove again) a file in `folder`.
bool FolderAcceptsFiles(const QString& folder);
