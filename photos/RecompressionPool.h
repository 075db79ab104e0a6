#pragma once
// Recompresses photos on worker threads, one per core, while the thread that reads and writes
// the database goes on with its own work. A photo handed in is given a ticket; its result is
// taken back by that ticket, raising what the recompression raised, so that the caller handles
// each photo at its own row exactly as if it had recompressed it there. The workers share
// nothing but the queue: the codec keeps no state between photos and each call owns its codec
// structs, error manager and buffers.

#include <QByteArray>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "photos/JpegRecompressor.h"

namespace patrimonio {

class RecompressionPool {
public:
    using Ticket = std::uint64_t;

    // `workers` threads; 0 recompresses each photo on the caller's thread when it is taken, one
    // at a time, as a run without a pool would.
    explicit RecompressionPool(int workers);
    // Waits for the photos being recompressed; those not started are dropped.
    ~RecompressionPool();
    RecompressionPool(const RecompressionPool&) = delete;
    RecompressionPool& operator=(const RecompressionPool&) = delete;

    // One worker per core this machine reports (at least one).
    static int coreCount();

    int workers() const { return static_cast<int>(threads_.size()); }

    // Queues the stored photo for recompression at `Compressao` (bounded as SetJPGCompression
    // bounds it). The bytes are shared, not copied.
    Ticket submit(int Compressao, const QByteArray& stored);

    // True once the ticket's result can be taken without waiting, after waiting at most
    // `milliseconds` (negative: as long as it takes). Always true without workers.
    bool waitFor(Ticket ticket, int milliseconds);

    // The ticket's recompressed photo; raises what the recompression raised. Waits while a
    // worker has it. The ticket is spent.
    RecompressedPhoto take(Ticket ticket);

    // Drops a ticket whose result is no longer wanted (a photo started but not finished is let
    // finish and then forgotten).
    void discard(Ticket ticket);

    // Photos queued or held that have not been taken or discarded.
    int outstanding() const;

private:
    struct Job {
        int Compressao = 0;
        QByteArray stored;
        bool running = false;
        bool done = false;
        bool discarded = false;
        std::optional<RecompressedPhoto> result;
        std::exception_ptr error;
    };

    void work();
    static void recompress(Job& job);

    mutable std::mutex mutex_;
    std::condition_variable queued_;    // a job was queued, or the pool is closing
    std::condition_variable finished_;  // a job is done
    std::deque<Ticket> queue_;
    std::map<Ticket, Job> jobs_;
    Ticket next_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace patrimonio
