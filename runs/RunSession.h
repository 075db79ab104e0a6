#pragma once
// What the window shows and the operator drives, without the window: the two connections and
// their record sets, which connection each database field drives in each mode, the run
// counters, and the runs themselves. The window forwards the operator's input here and shows
// what comes back; a run executes on a thread of its own with the session's connections, one
// run at a time, while the window only paints and asks.

#include <QString>
#include <QStringList>
#include <optional>

#include "core/Errors.h"
#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"
#include "runs/PhotoPass.h"

namespace patrimonio {

// The window's two database fields.
enum class DatabaseField {
    Source,  // Edit4, "Banco com as informações."
    Target,  // Edit2, "Banco a ser atualizado."
};

// What a whole run ended with, for the window's chores after it.
struct RunOutcome {
    bool photoOnly = false;
    // Import mode.
    std::optional<ImportEnd> importEnd;
    bool reportLogged = false;  // the log view holds an import report: it can be saved
    QString completion;         // the completion message, when the import completed
    // Photo-only mode.
    std::optional<PhotoPassEnd> passEnd;
    // The fields whose database could not be opened when the run started (it then raised).
    QList<DatabaseField> unreachable;
    // The run showed its error itself, before the question that followed it.
    bool errorShown = false;
    // The operator took the way back after an import that did not complete: whether Con_Velho
    // is on the target again.
    std::optional<bool> targetRestored;
};

class RunSession {
public:
    static inline const QString kServerPrefix = QStringLiteral("127.0.0.1/3052:");

    DataModule& data() { return data_; }
    RunCounters& counters() { return counters_; }

    // The connection a field drives in a mode: the source field always Con_Novo; the target
    // field Con_Velho in import mode, Con_Novo (by the bare path) in photo-only mode.
    Connection& connectionOf(DatabaseField field, bool photoOnly);
    // The database string a field's text becomes in a mode.
    static QString databaseOf(DatabaseField field, bool photoOnly, const QString& text);

    // The connect attempt of an edit box. A connection belongs to the database its field names
    // now: a change to another file closes it before the new file is tried, and a failed
    // attempt leaves it closed. Blank text tries nothing.
    enum class Attempt { Blank, Connected, Failed };
    struct ConnectAttempt {
        Attempt result = Attempt::Blank;
        std::optional<DatabaseError> error;  // why it failed
    };
    ConnectAttempt connectField(DatabaseField field, bool photoOnly, const QString& text);

    // Before a run touches anything: every connection the mode uses belongs to the database
    // its field names now (a lost one connects again to the same database). Returns the fields
    // whose database could not be opened; raises AppError naming them all when any failed.
    struct Binding {
        QList<DatabaseField> failed;
        QStringList reasons;
    };
    Binding bindForRun(bool photoOnly, const QString& sourceText, const QString& targetText);

    // A whole run in the mode read when the run button was clicked: connections bound, then
    // the import or the photo-only pass. Raises on an error that ends it; `outcome` then holds
    // what was known when it did (a report already logged, fields that could not connect).
    void run(bool photoOnly, const QString& sourceText, const QString& targetText, RunHost& host,
             int photoWorkers, RunOutcome& outcome);

private:
    DataModule data_;
    RunCounters counters_;
};

}  // namespace patrimonio
