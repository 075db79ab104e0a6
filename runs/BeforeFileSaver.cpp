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
        const QString code = order_.front();
        order_.pop_front();
        // The job is not erased while it runs (forgetUntaken waits for it), so the copy of its
        // path and bytes is all the saving needs.
        const QString path = jobs_.at(code).path;
        const QByteArray stored = jobs_.at(code).stored;
        running_ = code;
        lock.unlock();
        BeforeFileSave saved = saveBeforeFile(path, stored);
        lock.lock();
        running_.reset();
        Job& job = jobs_.at(code);
        job.saved = std::move(saved);
        job.done = true;
        saved_.notify_all();
    }
}

void BeforeFileSaver::queue(const QString& code, const QString& path, const QByteArray& stored) {
    {
        std::lock_guard lock(mutex_);
        Job& job = jobs_[code];
        job.path = path;
        job.stored = stored;
        order_.push_back(code);
    }
    queued_.notify_one();
}

bool BeforeFileSaver::holds(const QString& code, const QString& path) const {
    std::lock_guard lock(mutex_);
    const auto it = jobs_.find(code);
    return it != jobs_.end() && it->second.path == path;
}

bool BeforeFileSaver::waitFor(const QString& code, int milliseconds) {
    std::unique_lock lock(mutex_);
    const auto over = [&] {
        const auto it = jobs_.find(code);
        return it == jobs_.end() || it->second.done;
    };
    if (milliseconds < 0) {
        saved_.wait(lock, over);
        return true;
    }
    return saved_.wait_for(lock, std::chrono::milliseconds(milliseconds), over);
}

std::optional<BeforeFileSave> BeforeFileSaver::take(const QString& code) {
    std::unique_lock lock(mutex_);
    if (jobs_.find(code) == jobs_.end()) return std::nullopt;
    saved_.wait(lock, [&] { return jobs_.at(code).done; });
    BeforeFileSave saved = std::move(jobs_.at(code).saved);
    jobs_.erase(code);
    return saved;
}

void BeforeFileSaver::undo(const Job& job) {
    if (job.saved.outcome == BeforeFileSave::Outcome::Written) QFile::remove(job.saved.path);
}

void BeforeFileSaver::drop(const QString& code) {
    std::unique_lock lock(mutex_);
    if (jobs_.find(code) == jobs_.end()) return;
    std::erase(order_, code);
    saved_.wait(lock, [&] { return running_ != code; });
    const Job& job = jobs_.at(code);
    if (job.done) undo(job);
    jobs_.erase(code);
}

void BeforeFileSaver::forgetUntaken() {
    std::unique_lock lock(mutex_);
    order_.clear();
    saved_.wait(lock, [this] { return !running_; });
    for (const auto& [code, job] : jobs_)
        if (job.done) undo(job);
    jobs_.clear();
}

int BeforeFileSaver::held() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(jobs_.size());
}

}  // namespace patrimonio
