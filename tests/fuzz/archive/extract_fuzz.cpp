// Any bytes as a downloaded zip: extraction never crashes, and nothing appears outside the
// target folder (the work folder holds only the archive and the target afterwards).
#include "platform/archive/archive.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path work = [] {
        std::string pattern = (fs::temp_directory_path() / "tarnhold-fuzz-zip-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
    const fs::path zip = work / "in.zip";
    const fs::path out = work / "out";
    {
        std::ofstream file(zip, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    archives::ExtractOptions options;
    options.maxTotalBytes = 8 * 1024 * 1024;
    const archives::ExtractResult result = archives::ExtractZip(zip, out, options);
    if (result.ok != result.error.empty()) std::abort();
    std::size_t entries = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(work)) {
        (void)entry;
        ++entries;
    }
    if (entries > 2) std::abort();
    fs::remove_all(out);
    return 0;
}
