#include "runs/RunSession.h"

#include "core/AppPaths.h"
#include "core/Text.h"
#include "runs/CompactionOffer.h"

namespace patrimonio {

namespace {

QString captionOf(DatabaseField field) {
    return field == DatabaseField::Source ? QStringLiteral("banco com as informações")
                                          : QStringLiteral("banco a ser atualizado");
}

// Puts the connection on the database and opens it: kept when already open on it, a lost one
// goes back to that same database, one on another database is closed first. Whatever fails
// leaves it closed, and is raised.
void connectTo(Connection& connection, const QString& database) {
    if (connection.databaseString() != database) {
        connection.Close();
        connection.Params = Connection::editParams(database);
        connection.LoginPrompt = false;
    }
    try {
        connection.Open();
    } catch (...) {
        connection.Close();
        throw;
    }
}

}  // namespace

Connection& RunSession::connectionOf(DatabaseField field, bool photoOnly) {
    if (field == DatabaseField::Target && !photoOnly) return data_.Con_Velho;
    return data_.Con_Novo;
}

QString RunSession::databaseOf(DatabaseField field, bool photoOnly, const QString& text) {
    // Photo-only mode opens the one database by its bare path.
    if (field == DatabaseField::Target && photoOnly) return text;
    return kServerPrefix + text;
}

RunSession::ConnectAttempt RunSession::connectField(DatabaseField field, bool photoOnly,
                                                    const QString& text) {
    if (trimmed(text).isEmpty()) return {};
    try {
        connectTo(connectionOf(field, photoOnly), databaseOf(field, photoOnly, text));
    } catch (const DatabaseError& e) {
        return {Attempt::Failed, e};
    } catch (const std::exception& e) {
        return {Attempt::Failed, DatabaseError(QString::fromLocal8Bit(e.what()))};
    }
    return {Attempt::Connected, std::nullopt};
}

RunSession::Binding RunSession::bindForRun(bool photoOnly, const QString& sourceText,
                                           const QString& targetText) {
    struct Bound {
        DatabaseField field;
        const QString& text;
    };
    std::vector<Bound> fields;
    if (photoOnly) {
        // The pass works on the file of the target field, by its bare path, and on nothing
        // else: what import mode left open lets go of it first.
        data_.Con_Velho.Close();
        fields.push_back({DatabaseField::Target, targetText});
    } else {
        // Con_Novo first: it may hold the target's file by its bare path since a photo pass.
        fields.push_back({DatabaseField::Source, sourceText});
        fields.push_back({DatabaseField::Target, targetText});
    }
    Binding binding;
    for (const Bound& b : fields) {
        Connection& connection = connectionOf(b.field, photoOnly);
        // A blank field names no database: the run says so and starts nothing.
        if (trimmed(b.text).isEmpty()) {
            connection.Close();
            continue;
        }
        try {
            connectTo(connection, databaseOf(b.field, photoOnly, b.text));
        } catch (const DatabaseError& e) {
            binding.failed << b.field;
            binding.reasons << QStringLiteral("Não foi possível conectar ao %1 \"%2\": %3")
                                   .arg(captionOf(b.field), b.text, e.message());
        }
    }
    return binding;
}

void RunSession::run(bool photoOnly, const QString& sourceText, const QString& targetText,
                     RunHost& host, int photoWorkers, RunOutcome& outcome) {
    outcome = RunOutcome{};
    outcome.photoOnly = photoOnly;
    // A server restarted since the last run leaves dead attachments behind: find them now, so
    // that the run connects again (to the same databases) instead of failing at its first
    // statement.
    data_.Con_Novo.checkAlive();
    data_.Con_Velho.checkAlive();
    const Binding binding = bindForRun(photoOnly, sourceText, targetText);
    if (!binding.failed.isEmpty()) {
        outcome.unreachable = binding.failed;
        throw AppError(binding.reasons.join(u'\n'));
    }
    // Where this run's photos, copies and log file go is decided once, at its start, and said
    // first: an installed program cannot write beside itself, and the operator must find them.
    const FilesFolder files = chooseFilesFolder();
    if (!files.problem.isEmpty()) throw AppError(files.problem);
    host.appendLogLine(filesFolderLine(files));
    // What the run logs next (an asset code of a photo pass) starts on a line of its own.
    host.appendLogLine(QString());

    if (photoOnly) {
        PhotoPass pass(data_, counters_, host, photoWorkers);
        outcome.passEnd = pass.run();
        // After the summary of a pass that ran to its end and wrote photos, unless the operator
        // is closing the window: the file can be made smaller now.
        const bool wrote = pass.bytesBefore() > 0 || pass.bytesAfter() > 0;
        if (*outcome.passEnd == PhotoPassEnd::Finished && wrote && !host.stopRequested())
            offerCompaction(data_, host, pass.bytesAfter() < pass.bytesBefore());
        return;
    }
    ImportRun run(data_, counters_, host, photoWorkers);
    try {
        outcome.importEnd = run.run();
    } catch (...) {
        // The report of what was done before the error is in the log view: it can be saved.
        outcome.reportLogged = run.reportLogged();
        if (const std::optional<WayBack> back = run.wayBack()) {
            // The error first, as the window would show it; then the way back.
            host.showError(std::current_exception());
            outcome.errorShown = true;
            outcome.targetRestored = offerRestore(data_, host, *back);
        }
        throw;
    }
    outcome.reportLogged = run.reportLogged();
    // A run stopped half-way through the target can be undone.
    if (*outcome.importEnd == ImportEnd::Stopped) {
        if (const std::optional<WayBack> back = run.wayBack())
            outcome.targetRestored = offerRestore(data_, host, *back);
    }
    // A run stopped by the operator said where in the log view; no completion is claimed.
    if (*outcome.importEnd == ImportEnd::Completed)
        outcome.completion =
            ImportRun::completionMessage(run.report().refusedRows(), run.report().warnings);
}

}  // namespace patrimonio
