// Any bytes as a registry file: the reader never crashes, and what it kept formats to a text
// that reads back cleanly to the same keys.
#include "platform/registry/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const registry::RegDocument document = registry::ParseRegText(text);
    const registry::RegDocument again = registry::ParseRegText(registry::FormatRegText(document));
    if (!again.problems.empty() || again.keys != document.keys) std::abort();
    return 0;
}
