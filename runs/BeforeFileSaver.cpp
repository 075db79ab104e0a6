#include "runs/BeforeFileSaver.h"

#include <QFile>
#include <algorithm>
#include <chrono>

#include "core/ThreadPriority.h"

namespace patrimonio {

BeforeFileSaver::BeforeFileSaver()
    : thread_([this] {
          giveWayToTheWindow();
          work();
      }) {}

BeforeFileSaver::~BeforeFileSaver() {
    forgetUntaken();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    queued_.notify_all();
    thread_.join();
}

void BeforeFileSaver::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return closing_ || !order_.empty(); });
        if (closing_) return;
        const int row = order_.front();
        order_.pop_front();
        // The job is not erased while it runs (forgetUntaken waits for it), so the copy of its
        // path and bytes is all the saving needs.
        const QString path = jobs_.at(row).path;
        const QByteArray stored = jobs_.at(row).stored;
        running_ = row;
        lock.unlock();
        BeforeFileSave saved = saveBeforeFile(path, stored);
        lock.lock();
        running_ = -1;
        Job& job = jobs_.at(row);
        job.saved = std::move(saved);
        job.done = true;
        saved_.notify_all();
    }
}

void BeforeFileSaver::queue(int row, const QString& path, const QByteArray& stored) {
    {
        std::lock_guard lock(mutex_);
        Job& job = jobs_[row];
        job.path = path;
        job.stored = stored;
        order_.push_back(row);
    }
    queued_.notify_one();
}

bool BeforeFileSaver::holds(int row, const QString& path, const QByteArray& stored) const {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(row);
    if (it == jobs_.end() || it->second.path != path) return false;
    return it->second.stored.constData() == stored.constData() || it->second.stored == stored;
}

bool BeforeFileSaver::waitFor(int row, int milliseconds) {
    std::unique_lock lock(mutex_);
    const auto over = [&] {
        const auto it = jobs_.find(row);
        return it == jobs_.end() || it->second.done;
    };
    if (milliseconds < 0) {
        saved_.wait(lock, over);
        return true;
    }
    return saved_.wait_for(lock, std::chrono::milliseconds(milliseconds), over);
}

std::optional<BeforeFileSave> BeforeFileSaver::take(int row) {
    std::unique_lock lock(mutex_);
    if (jobs_.find(row) == jobs_.end()) return std::nullopt;
    saved_.wait(lock, [&] { return jobs_.at(row).done; });
    BeforeFileSave saved = std::move(jobs_.at(row).saved);
    jobs_.erase(row);
    return saved;
}

void BeforeFileSaver::undo(const Job& job) {
    if (job.saved.outcome == BeforeFileSave::Outcome::Written) QFile::remove(job.saved.path);
}

void BeforeFileSaver::drop(int row) {
    std::unique_lock lock(mutex_);
    if (jobs_.find(row) == jobs_.end()) return;
    std::erase(order_, row);
    saved_.wait(lock, [&] { return running_ != row; });
    const Job& job = jobs_.at(row);
    if (job.done) undo(job);
    jobs_.erase(row);
}

void BeforeFileSaver::forgetUntaken() {
    std::unique_lock lock(mutex_);
    order_.clear();
    saved_.wait(lock, [this] { return running_ < 0; });
    for (const auto& [row, job] : jobs_)
        if (job.done) undo(job);
    jobs_.clear();
}

int BeforeFileSaver::held() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(jobs_.size());
}

}  // namespace patrimonio
