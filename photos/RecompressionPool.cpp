#include "photos/RecompressionPool.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "core/ThreadPriority.h"

namespace patrimonio {

RecompressionPool::RecompressionPool(int workers) {
    threads_.reserve(static_cast<std::size_t>(std::max(0, workers)));
    for (int i = 0; i < workers; ++i) {
        threads_.emplace_back([this] {
            giveWayToTheWindow();
            work();
        });
    }
}

RecompressionPool::~RecompressionPool() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        queue_.clear();
    }
    queued_.notify_all();
    for (std::thread& t : threads_) t.join();
}

int RecompressionPool::coreCount() {
    return std::max(1, QThread::idealThreadCount());
}

void RecompressionPool::recompress(Job& job) {
    try {
        job.result = recompressInMemory(job.Compressao, job.stored);
    } catch (...) {
        job.error = std::current_exception();
    }
    // The stored bytes are the caller's again alone: the worker's share of them goes now.
    job.stored = QByteArray();
}

void RecompressionPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (closing_) return;
        const Ticket ticket = queue_.front();
        queue_.pop_front();
        Job& job = jobs_.at(ticket);
        job.running = true;
        // The job is not erased while it runs (discard only marks it), so the reference holds.
        lock.unlock();
        recompress(job);
        lock.lock();
        job.running = false;
        job.done = true;
        if (job.discarded) jobs_.erase(ticket);
        finished_.notify_all();
    }
}

RecompressionPool::Ticket RecompressionPool::submit(int Compressao, const QByteArray& stored) {
    std::lock_guard lock(mutex_);
    const Ticket ticket = next_++;
    Job& job = jobs_[ticket];
    job.Compressao = Compressao;
    job.stored = stored;
    if (!threads_.empty()) {
        queue_.push_back(ticket);
        queued_.notify_one();
    }
    return ticket;
}

bool RecompressionPool::waitFor(Ticket ticket, int milliseconds) {
    std::unique_lock lock(mutex_);
    if (threads_.empty()) return true;
    const auto ready = [&] {
        const auto it = jobs_.find(ticket);
        return it == jobs_.end() || it->second.done;
    };
    if (milliseconds < 0) {
        finished_.wait(lock, ready);
        return true;
    }
    return finished_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

RecompressedPhoto RecompressionPool::take(Ticket ticket) {
    Job job;
    {
        std::unique_lock lock(mutex_);
        const auto it = jobs_.find(ticket);
        if (it == jobs_.end()) throw std::logic_error("RecompressionPool: unknown ticket");
        if (!threads_.empty()) {
            // A queued job is not left waiting behind later ones: it runs here and now.
            if (!it->second.running && !it->second.done) {
                std::erase(queue_, ticket);
                job = std::move(it->second);
                jobs_.erase(it);
                lock.unlock();
                recompress(job);
                lock.lock();
            } else {
                finished_.wait(lock, [&] { return jobs_.at(ticket).done; });
                job = std::move(jobs_.at(ticket));
                jobs_.erase(ticket);
            }
        } else {
            job = std::move(it->second);
            jobs_.erase(it);
        }
    }
    if (!job.done && !job.result && !job.error) recompress(job);
    if (job.error) std::rethrow_exception(job.error);
    return std::move(*job.result);
}

void RecompressionPool::discard(Ticket ticket) {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(ticket);
    if (it == jobs_.end()) return;
    if (it->second.running) {
        it->second.discarded = true;
        return;
    }
    std::erase(queue_, ticket);
    jobs_.erase(it);
}

int RecompressionPool::outstanding() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& [ticket, job] : jobs_)
        if (!job.discarded) ++count;
    return count;
}

}  // namespace patrimonio
