// platform/http/http.cpp — blocking GET over libcurl.
#include "platform/http/http.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace http {
namespace {

// libcurl's global state is set up once, before the first request.
void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Collects the body and stops the transfer when it grows past the bound.
struct BodySink {
    std::vector<std::uint8_t>* body;
    std::size_t limit;
    bool overflowed = false;
};

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* user) {
    BodySink& sink = *static_cast<BodySink*>(user);
    const std::size_t bytes = size * count;
    if (bytes > sink.limit - sink.body->size()) {
        sink.overflowed = true;
        return 0; // makes libcurl fail the transfer with CURLE_WRITE_ERROR
    }
    sink.body->insert(sink.body->end(), data, data + bytes);
    return bytes;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::string Quoted(std::string_view url) {
    return "\"" + std::string(url) + "\"";
}

} // namespace

Response Get(std::string_view url, const Options& options) {
    Response response;
    if (url.empty()) {
        response.error = "no URL given";
        return response;
    }
    InitialiseCurlOnce();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        response.error = "cannot start a request for " + Quoted(url);
        return response;
    }
    const std::string urlText(url);
    BodySink sink{&response.body, options.maxBodyBytes};
    char curlError[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, urlText.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, options.maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(options.maxRedirects));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(options.maxBodyBytes));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, curlError);
    if (!options.userAgent.empty())
        curl_easy_setopt(handle, CURLOPT_USERAGENT, options.userAgent.c_str());

    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);

    if (code == CURLE_OPERATION_TIMEDOUT) {
        response.timedOut = true;
        response.body.clear(); // a partial body is never handed out
        response.error = "no complete reply from " + Quoted(url) + " within the time-out (" +
                         std::to_string(options.connectTimeout.count()) + " ms to connect, " +
                         std::to_string(options.totalTimeout.count()) + " ms in all)";
        return response;
    }
    if (sink.overflowed || code == CURLE_FILESIZE_EXCEEDED) {
        response.body.clear();
        response.error = "reply from " + Quoted(url) + " is larger than " +
                         std::to_string(options.maxBodyBytes) + " bytes";
        return response;
    }
    if (code != CURLE_OK) {
        response.body.clear();
        response.error = "request for " + Quoted(url) + " failed: " +
                         (curlError[0] ? std::string(curlError) : curl_easy_strerror(code));
        return response;
    }
    if (response.status >= 400) {
        response.error =
            "server answered " + std::to_string(response.status) + " for " + Quoted(url);
        return response;
    }
    response.ok = true;
    return response;
}

std::string EncodeQueryValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0f]);
        }
    }
    return out;
}

} // namespace http
