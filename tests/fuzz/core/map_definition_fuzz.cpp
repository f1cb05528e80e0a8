// Any bytes as a map definition file ("map/<name>.map"): the reader either refuses the text with
// an error that names the file and a line, or gives a definition the world builder can use (a
// sky name within its line, taken whole; finite coordinates; a positive mesh scale).
//
// Input: one byte choosing the decimal separator (bit 0: "," instead of "."), then the file.
#include "core/game.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kFile = "/opt/tarnhold/map/fuzz.map";

bool Finite(const core::Point3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    core::DecimalSeparator = (data[0] & 1) ? "," : ".";
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    core::MapDefinition def;
    try {
        def = core::ParseMapDefinition(text, kFile);
    } catch (const core::FatalError& error) {
        // "<full path>:<line>: reason", line 1 to 7.
        const std::string_view what = error.what();
        if (!what.starts_with(std::string(kFile) + ":")) std::abort();
        const char line = what.size() > kFile.size() + 1 ? what[kFile.size() + 1] : '\0';
        if (line < '1' || line > '7') std::abort();
        return 0;
    }
    if (def.skyName.find('\n') != std::string::npos) std::abort();
    if (def.meshScale <= 0) std::abort();
    if (!Finite(def.light)) std::abort();
    for (const core::Point3& spawn : def.spawns)
        if (!Finite(spawn)) std::abort();
    return 0;
}
