// server/http_pools.cpp — the worker pools that run the handlers and the per-address rate
// limiter of the HTTP front.
//
// Index
//   1. Worker pools
//   2. The rate limiter
#include "server/http_local.h"

#include <algorithm>

namespace server {

// =============================================================================================
// 1. Worker pools
// =============================================================================================

WorkerPool::WorkerPool(unsigned threads, size_t queue) : capacity_(std::max<size_t>(queue, 1)) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i)
        threads_.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() {
    Stop();
}

bool WorkerPool::TrySubmit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || jobs_.size() >= capacity_) return false;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void WorkerPool::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

void WorkerPool::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

// =============================================================================================
// 2. The rate limiter
// =============================================================================================

RateLimiter::RateLimiter(double rate, double burst) : rate_(rate), burst_(std::max(burst, 1.0)) {}

double RateLimiter::Take(const std::string& client, Clock::time_point now) {
    if (rate_ <= 0) return 0;
    std::lock_guard lock(mutex_);
    auto [it, fresh] = buckets_.try_emplace(client, Bucket{burst_, now});
    Bucket& b = it->second;
    if (!fresh) {
        const double elapsed = std::chrono::duration<double>(now - b.last).count();
        b.tokens = std::min(burst_, b.tokens + elapsed * rate_);
        b.last = now;
    }
    if (b.tokens >= 1.0) {
        b.tokens -= 1.0;
        return 0;
    }
    return (1.0 - b.tokens) / rate_;
}

void RateLimiter::Prune(Clock::time_point now) {
    if (rate_ <= 0) return;
    std::lock_guard lock(mutex_);
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        const double elapsed = std::chrono::duration<double>(now - it->second.last).count();
        if (it->second.tokens + elapsed * rate_ >= burst_)
            it = buckets_.erase(it);
        else
            ++it;
    }
}

} // namespace server
