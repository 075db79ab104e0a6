#pragma once
// A database file made smaller. Firebird keeps the pages a change frees inside its file for
// later use, so the file never shrinks by itself (a photo-only pass that makes the photos ten
// times smaller leaves the file as large as before). Only a backup restored into a new file
// leaves the free pages out. Here: the backup, the restore beside the old file, the check of
// the new file, and the swap, with the old file kept whole as the way back.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace patrimonio {

class Connection;

// The file's size now and the size a compaction would give it, as far as it can be told
// before doing it.
struct CompactionEstimate {
    qint64 fileBytes = 0;
    qint64 compactedBytes = 0;
};

// Read on an open connection to the database. The size now is the pages the file holds
// (MON$DATABASE.MON$PAGES times the page size: the file's length, also when the file is on
// another computer). The compacted size is the pages in use (the database's own count of
// pages its page inventory marks used, fb_info_pages_used) once a sweep has collected the old
// versions of rows no one reads any longer: a pass that replaced every photo leaves the old
// photos' pages marked used until the engine collects them, and the pages in use then said
// 327 MB of a file a compaction made 13 MB. After the sweep, a restore writes those pages
// again and leaves out the free ones (measured with bench/db/compaction_bench --estimates:
// 0.94 to 1.00 of the size reached, from many camera photos made small to none written and a
// file with other free pages). 0 when the sweep could not be made: no number then. Raises
// DatabaseError.
CompactionEstimate estimateCompaction(Connection& connection);

// What a compaction did.
struct Compaction {
    QString database;  // the database file, in its place
    QString keptAt;    // where the old file now is, whole
    qint64 bytesBefore = 0;
    qint64 bytesAfter = 0;
    // Half-made files a compaction killed earlier left beside the database, removed first.
    QStringList leftoversRemoved;
};

// Compacts the database `databaseString` names (a bare path, or "127.0.0.1/3052:/path" on a
// server of this computer). Nothing of ours may be attached to it: the caller lets go of its
// own connections first. In order:
//  - no other attachment (MON$ATTACHMENTS), the file within this process's reach, and every
//    user table's row count;
//  - a backup into a temporary file beside the database, restored into a new file beside it
//    (a temporary name in the same folder, so that the final rename stays on one file
//    system); the restore must end with the server's own report that it finished;
//  - the new file's tables and row counts equal to the old one's;
//  - again no other attachment; the old file kept whole in `copiesFolder` under its name and
//    `when` (a hard link where the file system has them, else a checked copy; never over
//    another file: a numbered name instead);
//  - the new file renamed over the old one, in one step.
// Raises AppError with the reason in the operator's words when anything fails: the database
// file is then where and as it was, and nothing made on the way is left behind.
Compaction compactDatabase(const QString& databaseString, const QString& user,
                           const QString& password, const QString& copiesFolder,
                           const QDateTime& when);

// The name the old file takes in the copies folder: "fotos_2026-12-10_18-30-05.fdb".
QString keptDatabaseName(const QString& file, const QDateTime& when);

}  // namespace patrimonio
