// server/http_local.h — what the files of the HTTP front share, and nothing else of the server
// includes: the clock, the worker pools, the per-address rate limiter, addresses and the
// listening socket.
#pragma once

#include "server/http_server.h"

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace server {

using Clock = std::chrono::steady_clock;

// True for the control bytes 0x00-0x1f and 0x7f.
bool IsControl(unsigned char c);

// A fixed set of threads taking jobs from a bounded queue. Stop() runs what is queued, then
// joins the threads.
class WorkerPool {
public:
    WorkerPool(unsigned threads, size_t queue);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // False when the queue is full or the pool stopped; the job is then not run.
    bool TrySubmit(std::function<void()> job);
    void Stop();

private:
    void Run();

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Token buckets per client address: `rate` tokens per second up to `burst`; a request takes
// one token. A rate of 0 or less lets everything through.
class RateLimiter {
public:
    RateLimiter(double rate, double burst);

    // 0 when the request may go on, else the seconds until it would.
    double Take(const std::string& client, Clock::time_point now);
    // Forgets the buckets that have filled up again (they hold nothing worth keeping).
    void Prune(Clock::time_point now);

private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    const double rate_;
    const double burst_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

// The numeric text of an IPv4 or IPv6 socket address (an IPv4-mapped IPv6 address as IPv4);
// "?" when `address` is null or of another family.
std::string AddressText(const sockaddr* address);

// The canonical text of a numeric address, or "" when `text` is not one.
std::string CanonicalAddress(std::string_view text);

// A listening TCP socket (close-on-exec, non-blocking) on the numeric address `bind` and
// `port` (0: any free port), with a queue of `backlog`; `bound` receives the port. The bind is
// exclusive: SO_REUSEADDR only, so a second server on a used port fails. Throws StartError.
int BindExclusive(const std::string& bind, int port, unsigned backlog, int& bound);

} // namespace server
