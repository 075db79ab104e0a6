#pragma once
// A plain copy step as a pipeline. The source rows are read ahead on a thread of their own
// (RowCursor), and while one write-back runs on the server, on a thread that only sends,
// the run's thread builds the rows of the next one in a second record set; the two record sets
// take turns and hand each other the prepared statements.
//
// What the step shows and writes is what the row-by-row copy shows and writes: one transaction
// per write-back at the step's cadence, refused rows listed, dropped and the rest written
// again, the rows' counters and pumps in row order, each after the write-back its row ends,
// and an error met while building a row raised where that row's turn comes. A stop asked for is
// seen after a whole write-back; the rows built ahead are then dropped unsent.

#include <functional>
#include <memory>

#include "runs/PlainCopy.h"

namespace patrimonio {

class Connection;
class RecordSet;
class RowCursor;
class RunReport;
struct TableTally;

class CopyPipeline {
public:
    struct Hooks {
        // After each whole write-back, on the run's thread: the stop point.
        std::function<void()> afterWriteBack;
        // Row `row` is handled (after the write-back it ends, when it ends one): its counter,
        // pump and progress.
        std::function<void(int row)> rowHandled;
    };

    // Starts reading `SELECT * FROM <table>` of the source ahead, then opens the target's record
    // set on the same query (and a second one on the same table, that holds no rows). Raises
    // DatabaseError.
    CopyPipeline(const PlainCopy& step, Connection& source, RecordSet& target, RunReport& host);
    ~CopyPipeline();
    CopyPipeline(const CopyPipeline&) = delete;
    CopyPipeline& operator=(const CopyPipeline&) = delete;

    // The rows the step will copy, counted in the source's snapshot.
    int rowCount() const;

    // Copies every row; raises what the row-by-row copy raises, where it raises it.
    // Adds the rows written and refused to `tally`.
    void run(TableTally& tally, const Hooks& hooks);

private:
    struct Fill;
    class Sender;
    Fill fill(RecordSet& target, int from);

    const PlainCopy& step_;
    RunReport& host_;
    std::unique_ptr<RowCursor> source_;
    RecordSet& target_;
    std::unique_ptr<RecordSet> spare_;
    std::unique_ptr<Sender> sender_;
};

}  // namespace patrimonio
