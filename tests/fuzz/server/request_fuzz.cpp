// Fuzz target: a request target as a client sends it, through the server's decoding and the
// access-log form. Decoding never reads past the input, a decoded path holds no control byte,
// and the log form holds no control byte, no quote and no password of the query.
#include "server/http_server.h"
#include "server/scripts.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string target(reinterpret_cast<const char*>(data), size);
    const size_t mark = target.find('?');

    std::string path;
    if (server::DecodePath(std::string_view(target).substr(0, mark), path)) {
        for (const char c : path)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
    }
    std::vector<std::pair<std::string, std::string>> query;
    if (mark != std::string::npos)
        server::DecodeQuery(std::string_view(target).substr(mark + 1), query);
    for (const auto& [key, value] : query)
        server::IsCleanText(value);

    const std::string line = server::AccessLogTarget(target);
    for (const char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f || c == '"') std::abort();
    }
    // A password value in the query is never written: LEPWD= is followed by *** or nothing.
    const size_t logQuery = line.find('?');
    for (size_t at = line.find("LEPWD=", logQuery);
         logQuery != std::string::npos && at != std::string::npos;
         at = line.find("LEPWD=", at + 1)) {
        const std::string_view rest = std::string_view(line).substr(at + 6);
        const bool isKey = line[at - 1] == '?' || line[at - 1] == '&';
        if (isKey && !rest.empty() && rest.substr(0, 3) != "***" && rest[0] != '&') std::abort();
    }
    return 0;
}
