// platform/http/http.h — blocking HTTP GET.
//
// The calling thread blocks until the reply is complete, an error occurs, or a time-out
// expires; a request never waits forever. Replies are untrusted: their size is bounded.
// Only http:// and https:// URLs are fetched, also across redirects.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace http {

// How one request behaves.
struct Options {
    // Longest wait for the connection to be established (name lookup included).
    std::chrono::milliseconds connectTimeout{10'000};
    // Longest wait for the whole request, connection included.
    std::chrono::milliseconds totalTimeout{60'000};
    // Largest reply body accepted; a longer reply fails.
    std::size_t maxBodyBytes = 256u * 1024u * 1024u;
    // Redirects followed before the request fails.
    int maxRedirects = 5;
    // Sent as the User-Agent header when not empty.
    std::string userAgent;
};

// The outcome of a request. `ok` is true only for a complete reply with a status below 400;
// otherwise `error` says what went wrong in one line naming the URL.
struct Response {
    bool ok = false;
    long status = 0;                // HTTP status, 0 when no reply arrived
    std::vector<std::uint8_t> body; // the reply body (also kept for statuses >= 400)
    std::string error;              // "" when ok
    bool timedOut = false;          // the failure was a time-out
};

// Fetches `url` with GET. Never throws for network or server failures; those are a Response
// with ok == false. Thread-safe: each call uses its own connection.
Response Get(std::string_view url, const Options& options = {});

// `value` percent-encoded for use in a query string: every byte except A-Z a-z 0-9 - . _ ~
// becomes %XX (upper-case hex); a space becomes %20.
std::string EncodeQueryValue(std::string_view value);

} // namespace http
