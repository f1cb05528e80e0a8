// tools/assetgen/main.cpp — `assetgen <installation directory> [stamp file]`: writes the default
// game content; touches the stamp file after a complete run so the build reruns it only when
// the generator changes.
#include "tools/assetgen/assetgen.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: assetgen <installation directory> [stamp file]\n");
        return 2;
    }
    std::vector<std::string> written;
    std::string error;
    if (!assetgen::GenerateAll(argv[1], written, error)) {
        std::fprintf(stderr, "assetgen: %s\n", error.c_str());
        return 1;
    }
    if (argc >= 3) {
        std::ofstream stamp(argv[2], std::ios::trunc);
        stamp << written.size() << " files\n";
        if (!stamp) {
            std::fprintf(stderr, "assetgen: cannot write %s\n", argv[2]);
            return 1;
        }
    }
    std::printf("assetgen: %zu files written under %s\n", written.size(), argv[1]);
    return 0;
}
