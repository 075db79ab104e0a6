#include "runs/CopyPipeline.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "core/Errors.h"
#include "db/RecordSet.h"
#include "db/RowCursor.h"
#include "db/TableNames.h"
#include "runs/RowCopy.h"
#include "runs/WriteBack.h"

namespace patrimonio {

namespace {

constexpr int kBatchRows = 500;

}  // namespace

// The thread that sends the write-backs: one job at a time, its error handed back to the run's
// thread when it waits for it.
class CopyPipeline::Sender {
public:
    Sender() : thread_([this] { loop(); }) {}
    ~Sender() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void start(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(job);
            busy_ = true;
            error_ = nullptr;
        }
        changed_.notify_all();
    }

    // Waits for the job; raises what it raised.
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || job_; });
            // A job already given is still done: the run's thread waits for it.
            if (!job_) return;
            std::function<void()> job = std::move(job_);
            job_ = nullptr;
            lock.unlock();
            std::exception_ptr error;
            try {
                job();
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            error_ = error;
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool quit_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

// Rows [from, end) built in a record set; when `error` is set, building row `end` raised it.
struct CopyPipeline::Fill {
    int end = 0;
    std::exception_ptr error;
};

CopyPipeline::CopyPipeline(const PlainCopy& step, Connection& source, RecordSet& target,
                           RunReport& host)
    : step_(step), host_(host), target_(target) {
    const QString select = QStringLiteral("SELECT * FROM ") + step.table;
    source_ = std::make_unique<RowCursor>(source, select, RowCursor::ReadAhead{});
    reopen(target, select);
    spare_ = std::make_unique<RecordSet>(target.connection());
    reopen(*spare_, select + QStringLiteral(" WHERE 1 = 0"));
    sender_ = std::make_unique<Sender>();
}

CopyPipeline::~CopyPipeline() = default;

int CopyPipeline::rowCount() const {
    return source_->rowCount();
}

CopyPipeline::Fill CopyPipeline::fill(RecordSet& target, int from) {
    const int n = source_->rowCount();
    Fill f{from, nullptr};
    for (int j = from; j < n; ++j) {
        try {
            if (!source_->next())
                throw AppError(QStringLiteral("%1 do banco com as informações terminou antes "
                                              "das %2 linhas contadas")
                                   .arg(step_.table)
                                   .arg(n));
            if (step_.newRow == PlainCopy::NewRow::Append) {
                target.Append();
            } else {
                target.Insert();
            }
            copyRow(*source_, target, step_.table, [this](int, const QString& name) {
                return step_.skipsBvCodigo && name == columns::BV_CODIGO ? ColumnRule::LeftOut
                                                                         : ColumnRule::Copied;
            });
            target.Post();
        } catch (...) {
            f.end = j;
            f.error = std::current_exception();
            return f;
        }
        f.end = j + 1;
        if (step_.cadence == PlainCopy::Cadence::EveryRow || j % kBatchRows == 0) return f;
    }
    return f;
}

void CopyPipeline::run(TableTally& tally, const Hooks& hooks) {
    const int n = source_->rowCount();
    const bool everyRow = step_.cadence == PlainCopy::Cadence::EveryRow;
    RecordSet* building = &target_;
    RecordSet* next = spare_.get();
    int from = 0;
    Fill built = fill(*building, 0);
    for (;;) {
        const bool endsWriteBack =
            !built.error && built.end > from && (everyRow || (built.end - 1) % kBatchRows == 0);
        // The rows before the one that ends the write-back are handled before it is sent.
        const int quietEnd = endsWriteBack ? built.end - 1 : built.end;
        for (int j = from; j < quietEnd; ++j) hooks.rowHandled(j);
        if (built.error) std::rethrow_exception(built.error);
        if (!endsWriteBack) break;

        building->takeStatementsFrom(*next);
        WriteBackTry first;
        sender_->start([&first, rs = building] { first = tryWriteBack(*rs); });
        // The next write-back's rows, while the server runs this one.
        Fill following{built.end, nullptr};
        if (built.end < n) following = fill(*next, built.end);
        sender_->wait();
        writeBackAfter(first, *building, host_, tally);
        building->emptyDataSet();
        hooks.afterWriteBack();
        hooks.rowHandled(built.end - 1);

        from = built.end;
        built = following;
        std::swap(building, next);
        if (from == n) break;
    }
    if (!everyRow) {
        // The rest after the loop, as the every-500 cadence always ends.
        building->takeStatementsFrom(*next);
        writeBack(*building, host_, tally);
        building->emptyDataSet();
        hooks.afterWriteBack();
    }
}

}  // namespace patrimonio
