// server/http_server.cpp — the HTTP front on libmicrohttpd: the daemon, its callbacks, start
// and stop.
//
// Index
//   1. Connections and requests in flight
//   2. The daemon
//
// Threads: libmicrohttpd's event loops (`Limits::ioThreads`) parse requests and move bytes;
// a handler never runs on them. A request whose head is complete is checked there, then its
// connection is suspended and the request queued on a pool; the worker builds the reply and
// resumes the connection, and the event loop sends it. A sweeper thread closes connections
// whose request head is overdue and forgets idle rate-limit buckets.
//
// Elsewhere in the front: http_request.cpp (requests, replies, decoding, the access-log form),
// http_pools.cpp (worker pools, rate limiter), http_socket.cpp (addresses, listening socket).
#include "server/http_local.h"

#include <microhttpd.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace server {

namespace {

// =============================================================================================
// 1. Connections and requests in flight
// =============================================================================================

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
// 2. The daemon
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
