// server/http_server.cpp — the HTTP front on libmicrohttpd.
//
// Index
//   1. Requests, replies, decoding and the access-log form
//   2. Worker pools and the rate limiter
//   3. Connections: per-address counts and head deadlines
//   4. The daemon: callbacks, start and stop
//
// Threads: libmicrohttpd's event loops (`Limits::ioThreads`) parse requests and move bytes;
// a handler never runs on them. A request whose head is complete is checked there, then its
// connection is suspended and the request queued on a pool; the worker builds the reply and
// resumes the connection, and the event loop sends it. A sweeper thread closes connections
// whose request head is overdue and forgets idle rate-limit buckets.
#include "server/http_server.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace server {

using Clock = std::chrono::steady_clock;

// =============================================================================================
// 1. Requests, replies, decoding and the access-log form
// =============================================================================================

size_t Request::Count(std::string_view key) const {
    return size_t(std::count_if(query.begin(), query.end(),
                                [key](const auto& pair) { return pair.first == key; }));
}

std::string Request::Value(std::string_view key) const {
    for (const auto& [k, v] : query)
        if (k == key) return v;
    return {};
}

Response::Response(Response&& other) noexcept {
    *this = std::move(other);
}

Response& Response::operator=(Response&& other) noexcept {
    if (this == &other) return *this;
    if (fileFd >= 0) ::close(fileFd);
    status = other.status;
    contentType = std::move(other.contentType);
    body = std::move(other.body);
    fileFd = std::exchange(other.fileFd, -1);
    fileSize = other.fileSize;
    headers = std::move(other.headers);
    return *this;
}

Response::~Response() {
    if (fileFd >= 0) ::close(fileFd);
}

Response Response::Text(int status, std::string body) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %-decodes `raw` into `out`; '+' becomes a space when `plusIsSpace`. False on a bad escape.
bool PercentDecode(std::string_view raw, bool plusIsSpace, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '%') {
            if (i + 2 >= raw.size()) return false;
            const int high = HexDigit(raw[i + 1]), low = HexDigit(raw[i + 2]);
            if (high < 0 || low < 0) return false;
            out += char(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

bool IsDecimal(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    return !text.empty() && text.size() <= 20 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool DecodePath(std::string_view raw, std::string& out) {
    if (!PercentDecode(raw, false, out)) return false;
    return std::none_of(out.begin(), out.end(),
                        [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

bool DecodeQuery(std::string_view raw, std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    bool ok = true;
    while (!raw.empty()) {
        const size_t amp = raw.find('&');
        const std::string_view pair = raw.substr(0, amp);
        raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        std::string key, value;
        ok = PercentDecode(pair.substr(0, eq), true, key) && ok;
        if (eq != std::string_view::npos)
            ok = PercentDecode(pair.substr(eq + 1), true, value) && ok;
        out.emplace_back(std::move(key), std::move(value));
    }
    return ok;
}

std::string AccessLogTarget(std::string_view target) {
    const size_t mark = target.find('?');
    std::string out;
    for (const char c : target.substr(0, mark)) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte) || byte >= 0x80 || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    if (mark == std::string_view::npos) return out;
    out += '?';
    std::string_view query = target.substr(mark + 1);
    bool first = true;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t eq = pair.find('=');
        std::string key;
        if (!PercentDecode(pair.substr(0, eq), true, key)) key = "?";
        // Keys are the scripts' own upper-case words; anything else is shown by its length.
        const bool plainKey =
            !key.empty() && key.size() <= 32 && std::all_of(key.begin(), key.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_';
            });
        if (!first) out += '&';
        first = false;
        out += plainKey ? key : "[" + std::to_string(key.size()) + " bytes]";
        if (eq == std::string_view::npos) continue;
        std::string value;
        const bool decoded = PercentDecode(pair.substr(eq + 1), true, value);
        out += '=';
        if (key == "LEPWD" || key == "LEOLDPWD")
            out += "***";
        else if (decoded && IsDecimal(value))
            out += value;
        else
            out += "[" + std::to_string(value.size()) + " bytes]";
    }
    return out;
}

namespace {

// =============================================================================================
// 2. Worker pools and the rate limiter
// =============================================================================================

// A fixed set of threads taking jobs from a bounded queue. Stop() runs what is queued, then
// joins the threads.
class WorkerPool {
public:
    WorkerPool(unsigned threads, size_t queue) : capacity_(std::max<size_t>(queue, 1)) {
        for (unsigned i = 0; i < std::max(threads, 1u); ++i)
            threads_.emplace_back([this] { Run(); });
    }
    ~WorkerPool() { Stop(); }

    // False when the queue is full or the pool stopped; the job is then not run.
    bool TrySubmit(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || jobs_.size() >= capacity_) return false;
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
        return true;
    }

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

private:
    void Run() {
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

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Token buckets per client address: `rate` tokens per second up to `burst`; a request takes
// one token.
class RateLimiter {
public:
    RateLimiter(double rate, double burst) : rate_(rate), burst_(std::max(burst, 1.0)) {}

    // 0 when the request may go on, else the seconds until it would.
    double Take(const std::string& client, Clock::time_point now) {
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

    // Forgets the buckets that have filled up again (they hold nothing worth keeping).
    void Prune(Clock::time_point now) {
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

// =============================================================================================
// 3. Connections: per-address counts and head deadlines
// =============================================================================================

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address == nullptr) return "?";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
            inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    } else {
        return "?";
    }
    return text;
}

// The canonical text of a numeric address, or "" when `text` is not one.
std::string CanonicalAddress(std::string_view text) {
    const std::string s(text);
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    if (inet_pton(AF_INET, s.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        return AddressText(reinterpret_cast<const sockaddr*>(&v4));
    }
    if (inet_pton(AF_INET6, s.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return AddressText(reinterpret_cast<const sockaddr*>(&v6));
    }
    return "";
}

// One open TCP connection.
struct Link {
    int fd = -1;                  // a duplicate of the connection's socket, owned here (see Sweep)
    std::string peer;             // peer address
    bool exempt = false;          // a trusted proxy: no per-address cap
    Clock::time_point deadline{}; // the next request head is due by then
    bool waitingHead = true;      // between requests (the deadline applies)
    bool cut = false;             // already shut down by the sweeper
};

// Where a request stands. Head: its head is complete; Ready: accepted, waiting for the
// library's final call; Waiting: on a worker, the connection suspended; Answered: replied.
enum class Stage { Head, Ready, Waiting, Answered };

// One request, from its request line to its completion.
struct Exchange {
    Stage stage = Stage::Head;
    Request request;
    std::string target;
    Clock::time_point started = Clock::now();
    std::string method;
    std::string client;
    int status = 0; // 0: no reply from a handler (refused by the HTTP layer or aborted)
    uint64_t bytes = 0;
    Response response;
};

} // namespace

// =============================================================================================
// 4. The daemon
// =============================================================================================

class HttpServer::Impl {
public:
    Impl(const ListenOptions& listen, const Limits& limits, Routes routes)
        : limits_(limits), routes_(std::move(routes)), rate_(limits.rate, limits.burst),
          fast_(limits.workers, limits.queue), slow_(limits.slowWorkers, limits.queue) {
        for (const std::string& proxy : listen.trustedProxies) {
            const std::string canonical = CanonicalAddress(proxy);
            if (canonical.empty()) throw StartError("not a numeric address: " + proxy);
            trusted_.insert(canonical);
        }
        listenFd_ = BindExclusive(listen.bind, listen.port, limits.backlog, port_);
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                         MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
        std::vector<MHD_OptionItem> options = {
            {MHD_OPTION_EXTERNAL_LOGGER, intptr_t(&OnLibraryMessage), this},
            {MHD_OPTION_LISTEN_SOCKET, listenFd_, nullptr},
            {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(limits.headerBytes + 8 * 1024), nullptr},
            {MHD_OPTION_CONNECTION_LIMIT, intptr_t(limits.connections), nullptr},
            {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(limits.idleTimeoutSeconds), nullptr},
            {MHD_OPTION_URI_LOG_CALLBACK, intptr_t(&OnRequestLine), this},
            {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&OnCompleted), this},
            {MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&OnConnection), this},
        };
        if (limits.ioThreads > 1)
            options.push_back({MHD_OPTION_THREAD_POOL_SIZE, intptr_t(limits.ioThreads), nullptr});
        options.push_back({MHD_OPTION_END, 0, nullptr});
        daemon_ = MHD_start_daemon(flags, 0, &OnAccept, this, &OnHead, this, MHD_OPTION_ARRAY,
                                   options.data(), MHD_OPTION_END);
        if (daemon_ == nullptr) {
            ::close(listenFd_);
            throw StartError("the HTTP server could not start");
        }
        sweeper_ = std::thread([this] { Sweep(); });
    }

    ~Impl() {
        MHD_quiesce_daemon(daemon_);
        {
            std::lock_guard lock(sweepMutex_);
            stopping_ = true;
        }
        sweepWake_.notify_all();
        sweeper_.join();
        // The pools finish their jobs; each resumes its connection before the daemon stops.
        fast_.Stop();
        slow_.Stop();
        MHD_stop_daemon(daemon_);
        ::close(listenFd_);
    }

    int Port() const { return port_; }

private:
    // ----- listening socket -----

    static int BindExclusive(const std::string& bind, int port, unsigned backlog, int& bound) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* found = nullptr;
        if (getaddrinfo(bind.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
            found == nullptr)
            throw StartError("not a numeric address to bind: " + bind);
        const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            freeaddrinfo(found);
            throw StartError(std::string("cannot create a socket: ") + std::strerror(errno));
        }
        // SO_REUSEADDR lets a restarted server bind while old connections linger; unlike
        // SO_REUSEPORT it never lets a second process listen on the same port.
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const int bindResult = ::bind(fd, found->ai_addr, found->ai_addrlen);
        const int bindError = errno;
        freeaddrinfo(found);
        if (bindResult != 0) {
            ::close(fd);
            if (bindError == EADDRINUSE)
                throw StartError("port " + std::to_string(port) + " on " + bind +
                                 " is already in use (is another server running there?)");
            throw StartError("cannot bind " + bind + ":" + std::to_string(port) + ": " +
                             std::strerror(bindError));
        }
        if (::listen(fd, int(std::max(backlog, 1u))) != 0) {
            const int error = errno;
            ::close(fd);
            throw StartError(std::string("cannot listen: ") + std::strerror(error));
        }
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        bound = address.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        return fd;
    }

    // ----- connections -----

    static MHD_Result OnAccept(void* cls, const sockaddr* address, socklen_t) {
        auto* self = static_cast<Impl*>(cls);
        if (self->limits_.connectionsPerAddress == 0) return MHD_YES;
        const std::string peer = AddressText(address);
        if (self->trusted_.count(peer)) return MHD_YES;
        std::lock_guard lock(self->linksMutex_);
        const auto it = self->perAddress_.find(peer);
        const bool full =
            it != self->perAddress_.end() && it->second >= self->limits_.connectionsPerAddress;
        return full ? MHD_NO : MHD_YES;
    }

    static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto link = std::make_unique<Link>();
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            link->peer = AddressText(info ? info->client_addr : nullptr);
            link->exempt = self->trusted_.count(link->peer) > 0;
            const MHD_ConnectionInfo* fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            // Our own descriptor of the socket: the sweeper may shut it down at any time
            // without racing the library's close of its descriptor.
            link->fd = fd ? ::fcntl(fd->connect_fd, F_DUPFD_CLOEXEC, 0) : -1;
            link->deadline =
                Clock::now() + std::chrono::seconds(self->limits_.headerTimeoutSeconds);
            std::lock_guard lock(self->linksMutex_);
            ++self->perAddress_[link->peer];
            *socketContext = link.get();
            self->links_.insert(link.release());
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto* link = static_cast<Link*>(*socketContext);
            if (link == nullptr) return;
            {
                std::lock_guard lock(self->linksMutex_);
                self->links_.erase(link);
                const auto it = self->perAddress_.find(link->peer);
                if (it != self->perAddress_.end() && --it->second == 0) self->perAddress_.erase(it);
            }
            if (link->fd >= 0) ::close(link->fd);
            delete link;
            *socketContext = nullptr;
        }
    }

    static Link* LinkOf(MHD_Connection* connection) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Link*>(info->socket_context) : nullptr;
    }

    // Shuts down the connections whose request head is overdue, and prunes the rate limiter.
    void Sweep() {
        std::unique_lock lock(sweepMutex_);
        Clock::time_point nextPrune = Clock::now() + std::chrono::seconds(10);
        while (!stopping_) {
            sweepWake_.wait_for(lock, std::chrono::milliseconds(250));
            const Clock::time_point now = Clock::now();
            {
                std::lock_guard links(linksMutex_);
                for (Link* link : links_) {
                    if (link->waitingHead && !link->cut && now > link->deadline && link->fd >= 0) {
                        ::shutdown(link->fd, SHUT_RDWR);
                        link->cut = true;
                    }
                }
            }
            if (now > nextPrune) {
                rate_.Prune(now);
                nextPrune = now + std::chrono::seconds(10);
            }
        }
    }

    // ----- requests -----

    static void* OnRequestLine(void*, const char* uri, MHD_Connection*) {
        auto* exchange = new Exchange;
        exchange->target = uri ? uri : "";
        return exchange;
    }

    static void OnCompleted(void* cls, MHD_Connection* connection, void** requestContext,
                            MHD_RequestTerminationCode code) {
        auto* self = static_cast<Impl*>(cls);
        auto* exchange = static_cast<Exchange*>(*requestContext);
        if (exchange == nullptr) return;
        *requestContext = nullptr;
        self->LogExchange(*exchange, code);
        delete exchange;
        if (Link* link = LinkOf(connection)) {
            std::lock_guard lock(self->linksMutex_);
            link->waitingHead = true;
            link->deadline =
                Clock::now() + std::chrono::seconds(self->limits_.headerTimeoutSeconds);
        }
    }

    static MHD_Result OnHead(void* cls, MHD_Connection* connection, const char*, const char* method,
                             const char*, const char*, size_t* uploadSize, void** requestContext) {
        auto* self = static_cast<Impl*>(cls);
        auto* exchange = static_cast<Exchange*>(*requestContext);
        if (exchange == nullptr) {
            exchange = new Exchange;
            *requestContext = exchange;
        }
        switch (exchange->stage) {
        case Stage::Head: {
            // The head is complete. A refusal is sent at once (and the connection closed);
            // otherwise the request waits for the library's final call, so that the connection
            // may be kept alive after the reply.
            if (Link* link = LinkOf(connection)) {
                std::lock_guard lock(self->linksMutex_);
                link->waitingHead = false;
            }
            exchange->method = method ? method : "";
            if (std::optional<Response> refusal =
                    self->Check(connection, *exchange, exchange->request)) {
                *uploadSize = 0;
                exchange->stage = Stage::Answered;
                return self->Queue(connection, *exchange, std::move(*refusal));
            }
            exchange->stage = Stage::Ready;
            return MHD_YES;
        }
        case Stage::Ready:
            *uploadSize = 0;
            self->Dispatch(connection, *exchange);
            return MHD_YES;
        case Stage::Waiting:
            // Resumed: the worker's reply is ready.
            exchange->stage = Stage::Answered;
            return self->Queue(connection, *exchange, std::move(exchange->response));
        case Stage::Answered:
            *uploadSize = 0;
            return MHD_YES;
        }
        return MHD_NO;
    }

    // Suspends the connection and queues the request on its pool; the worker resumes it.
    void Dispatch(MHD_Connection* connection, Exchange& exchange) {
        WorkerPool& pool = routes_.laneOf(exchange.request) == Lane::Slow ? slow_ : fast_;
        exchange.stage = Stage::Waiting;
        MHD_suspend_connection(connection);
        Exchange* pending = &exchange;
        const bool queued = pool.TrySubmit([this, connection, pending] {
            pending->response = Run(pending->request);
            MHD_resume_connection(connection);
        });
        if (!queued) {
            exchange.response = Response::Text(503, "The server is busy: try again shortly.\n");
            exchange.response.headers.emplace_back("Retry-After", "2");
            MHD_resume_connection(connection);
        }
    }

    // The refusal of a request that must not reach a handler, or nothing (then `request` is
    // filled in).
    std::optional<Response> Check(MHD_Connection* connection, Exchange& exchange,
                                  Request& request) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        request.peer = AddressText(info ? info->client_addr : nullptr);
        request.client = ClientAddress(connection, request.peer);
        exchange.client = request.client;

        if (exchange.method != "GET" && exchange.method != "HEAD") {
            Response r = Response::Text(405, "Only GET and HEAD are served.\n");
            r.headers.emplace_back("Allow", "GET, HEAD");
            return r;
        }
        const int headers =
            MHD_get_connection_values(connection, MHD_HEADER_KIND, nullptr, nullptr);
        if (headers < 0 || unsigned(headers) > limits_.maxHeaders)
            return Response::Text(431, "Too many header lines.\n");
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        if ((length != nullptr && std::string_view(length) != "0") ||
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                        MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr)
            return Response::Text(413, "Requests carry no body here.\n");

        const std::string_view target = exchange.target;
        const size_t mark = target.find('?');
        if (std::any_of(target.begin(), target.end(),
                        [](char c) { return IsControl(static_cast<unsigned char>(c)); }) ||
            !DecodePath(target.substr(0, mark), request.path) || request.path.empty() ||
            request.path[0] != '/')
            return Response::Text(400, "Bad request target.\n");
        if (mark != std::string_view::npos)
            request.queryOk = DecodeQuery(target.substr(mark + 1), request.query);
        request.method = exchange.method;
        request.target = exchange.target;
        if (const char* authorization = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                                    MHD_HTTP_HEADER_AUTHORIZATION))
            request.authorization = authorization;

        if (const double wait = rate_.Take(request.client, Clock::now()); wait > 0) {
            const int seconds = std::max(1, int(std::ceil(wait)));
            Response r = Response::Text(429, "Too many requests from your address: try again in " +
                                                 std::to_string(seconds) + " s.\n");
            r.headers.emplace_back("Retry-After", std::to_string(seconds));
            return r;
        }
        return std::nullopt;
    }

    // The client's address: the peer, or for a trusted proxy the right-most address of
    // X-Forwarded-For that is not itself a trusted proxy.
    std::string ClientAddress(MHD_Connection* connection, const std::string& peer) const {
        if (!trusted_.count(peer)) return peer;
        const char* forwarded =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For");
        if (forwarded == nullptr) return peer;
        std::string_view list = forwarded;
        std::string client = peer;
        while (!list.empty()) {
            const size_t comma = list.rfind(',');
            std::string_view item = comma == std::string_view::npos ? list : list.substr(comma + 1);
            list = comma == std::string_view::npos ? std::string_view() : list.substr(0, comma);
            while (!item.empty() && item.front() == ' ')
                item.remove_prefix(1);
            while (!item.empty() && item.back() == ' ')
                item.remove_suffix(1);
            const std::string address = CanonicalAddress(item);
            if (address.empty()) break; // not an address: trust nothing further left
            client = address;
            if (!trusted_.count(address)) break;
        }
        return client;
    }

    Response Run(const Request& request) {
        try {
            return routes_.handle(request);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarnhold-server: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "tarnhold-server: unknown error\n");
        }
        return Response::Text(500, "Server error.\n");
    }

    MHD_Result Queue(MHD_Connection* connection, Exchange& exchange, Response response) {
        MHD_Response* reply = nullptr;
        if (response.fileFd >= 0) {
            reply = MHD_create_response_from_fd(size_t(response.fileSize), response.fileFd);
            if (reply != nullptr) response.fileFd = -1; // the library owns it now
            exchange.bytes = response.fileSize;
        } else {
            reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                                    MHD_RESPMEM_MUST_COPY);
            exchange.bytes = response.body.size();
        }
        if (reply == nullptr) return MHD_NO;
        MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
        MHD_add_response_header(reply, "X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response.headers)
            MHD_add_response_header(reply, name.c_str(), value.c_str());
        exchange.status = response.status;
        const MHD_Result queued = MHD_queue_response(connection, unsigned(response.status), reply);
        MHD_destroy_response(reply);
        return queued;
    }

    // ----- logs -----

    void LogExchange(const Exchange& exchange, MHD_RequestTerminationCode code) {
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - exchange.started)
                .count();
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
        const char* ending = code == MHD_REQUEST_TERMINATED_COMPLETED_OK      ? ""
                             : code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED ? " timeout"
                             : code == MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN ? " shutdown"
                             : code == MHD_REQUEST_TERMINATED_CLIENT_ABORT    ? " aborted"
                                                                              : " error";
        const std::string status = exchange.status ? std::to_string(exchange.status) : "-";
        const std::string line =
            std::string(when) + " " + (exchange.client.empty() ? "-" : exchange.client) + " \"" +
            (exchange.method.empty() ? "-" : exchange.method) + " " +
            AccessLogTarget(exchange.target) + "\" " + status + " " +
            std::to_string(exchange.bytes) + " " + std::to_string(micros / 1000) + "." +
            std::to_string(micros / 100 % 10) + "ms" + ending + "\n";
        std::lock_guard lock(logMutex_);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    static void OnLibraryMessage(void*, const char* format, va_list arguments) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::fprintf(stderr, "tarnhold-server: http: %s%s", text,
                     std::strchr(text, '\n') ? "" : "\n");
    }

    const Limits limits_;
    const Routes routes_;
    RateLimiter rate_;
    WorkerPool fast_;
    WorkerPool slow_;
    std::unordered_set<std::string> trusted_;
    int listenFd_ = -1;
    int port_ = 0;
    MHD_Daemon* daemon_ = nullptr;

    std::mutex linksMutex_;
    std::unordered_set<Link*> links_;
    std::unordered_map<std::string, unsigned> perAddress_;

    std::mutex sweepMutex_;
    std::condition_variable sweepWake_;
    bool stopping_ = false;
    std::thread sweeper_;

    std::mutex logMutex_;
};

HttpServer::HttpServer(const ListenOptions& listen, const Limits& limits, Routes routes)
    : impl_(std::make_unique<Impl>(listen, limits, std::move(routes))) {}

HttpServer::~HttpServer() = default;

int HttpServer::Port() const {
    return impl_->Port();
}

} // namespace server
