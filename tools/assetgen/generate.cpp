// tools/assetgen/generate.cpp — GenerateAll: every content family in a fixed order.
#include "tools/assetgen/assetgen.h"
#include "tools/assetgen/assetgen_local.h"

namespace assetgen {

bool GenerateAll(const std::filesystem::path& root, std::vector<std::string>& written,
                 std::string& error) {
    Output out(root);
    GenerateCharacter(out);
    GenerateWeapons(out);
    GenerateSounds(out);
    GeneratePictures(out);
    GenerateMaps(out);
    GenerateFileMaps(out);
    written.insert(written.end(), out.written.begin(), out.written.end());
    error = out.error;
    return out.ok;
}

} // namespace assetgen
