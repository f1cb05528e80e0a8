// server/http_server.h — the HTTP front of tarnhold-server: an event-driven listener
// (libmicrohttpd on epoll) that keeps slow or oversized clients from tying up the server, and
// two worker pools that run the handlers.
//
// What a client meets, in order:
//   - per-address connection cap (trusted proxies exempt) and a global connection cap;
//   - the request head (request line and headers) must arrive within `headerTimeoutSeconds`
//     of the connection opening or of the previous reply on a kept-alive connection, and fit
//     in `headerBytes` with at most `maxHeaders` header lines (else 431, or the connection is
//     closed);
//   - only GET and HEAD without a body (405 / 413 otherwise); a request target with NUL or
//     control bytes, or a bad %-escape in its path, is refused (400);
//   - per-address request rate (token bucket): 429 with Retry-After when over it;
//   - the handler runs on a worker (the "slow" pool for requests that hash passwords); a full
//     queue answers 503 with Retry-After.
// Every request gets one access-log line on standard output; query values are masked there
// (see AccessLogTarget).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

// Limits of the HTTP front. The defaults are the documented defaults of tarnhold-server.
struct Limits {
    unsigned headerTimeoutSeconds = 10;  // whole request head, and idle keep-alive
    unsigned idleTimeoutSeconds = 30;    // no byte moving either way on a connection
    size_t headerBytes = 16 * 1024;      // request line + headers of one request
    unsigned maxHeaders = 64;            // header lines per request
    unsigned connections = 2000;         // open connections in all
    unsigned connectionsPerAddress = 32; // open connections from one client address; 0 = no cap
    unsigned backlog = 512;              // listen queue of not yet accepted connections
    unsigned ioThreads = 2;              // event loops that accept and move bytes
    unsigned workers = 4;                // handler threads of the fast pool
    unsigned slowWorkers = 2;            // handler threads for password-hashing requests
    size_t queue = 1024;                 // waiting requests per pool before 503
    double rate = 20;                    // requests per second per client address; 0 = no limit
    double burst = 60;                   // requests a client may send at once
};

// One request as the handlers see it. Only built for well-formed GET or HEAD requests.
struct Request {
    std::string method;
    std::string target; // the request target as received (undecoded path and query)
    std::string path;   // the %-decoded path, free of NUL and control bytes
    std::vector<std::pair<std::string, std::string>> query; // decoded pairs, in order
    bool queryOk = true;       // false when a query %-escape was malformed
    std::string client;        // the client's address (see trusted proxies)
    std::string peer;          // the address of the TCP peer
    std::string authorization; // the Authorization header ("" when absent); never logged

    // How many times `key` occurs in the query.
    size_t Count(std::string_view key) const;
    // The first value of `key` ("" when absent).
    std::string Value(std::string_view key) const;
};

struct Response {
    int status = 200;
    std::string contentType = "text/plain; charset=UTF-8";
    std::string body;
    int fileFd = -1;       // when >= 0, the reply body is this open file (the reply owns it)
    uint64_t fileSize = 0; // its size in bytes
    std::vector<std::pair<std::string, std::string>> headers;

    Response() = default;
    Response(const Response&) = delete;
    Response& operator=(const Response&) = delete;
    Response(Response&& other) noexcept;
    Response& operator=(Response&& other) noexcept;
    ~Response();

    // A plain-text reply with `status`.
    static Response Text(int status, std::string body);
};

enum class Lane { Fast, Slow };

struct Routes {
    std::function<Lane(const Request&)> laneOf;     // which pool runs the request
    std::function<Response(const Request&)> handle; // runs on a worker thread
};

struct ListenOptions {
    std::string bind = "127.0.0.1";          // numeric IPv4 or IPv6 address
    int port = 8080;                         // 0: any free port
    std::vector<std::string> trustedProxies; // peers whose X-Forwarded-For names the client
};

// Raised when the server cannot start; what() is the message for the operator.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HttpServer {
public:
    // Binds the port exclusively and starts serving. Throws StartError (for example when the
    // port is in use by another process).
    HttpServer(const ListenOptions& listen, const Limits& limits, Routes routes);
    // Stops accepting, finishes the requests under way and closes every connection.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const; // the bound port

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// `target` (path and query) as written to the access log: control and non-ASCII bytes of the
// path as \xNN; each query value that is a plain decimal number kept, the passwords (LEPWD,
// LEOLDPWD) as "***", any other value as "[N bytes]", so the log holds no passwords or personal
// texts.
std::string AccessLogTarget(std::string_view target);

// Strict %-decoding of a path: "%XX" with two hex digits only; false on a bad escape or when
// the result holds NUL or control bytes (0x00-0x1f, 0x7f).
bool DecodePath(std::string_view raw, std::string& out);

// Splits and %-decodes a query ("a=1&b=x%20y", '+' is a space); false on a bad escape.
bool DecodeQuery(std::string_view raw, std::vector<std::pair<std::string, std::string>>& out);

} // namespace server
