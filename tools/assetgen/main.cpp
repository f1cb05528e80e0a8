// tools/assetgen/main.cpp — `assetgen <installation directory> [manifest file]`: writes the
// default game content; after a complete run writes the manifest, one written file per line
// relative to the installation directory ('/' separators). The build reruns the generator only
// when it changes, and installs exactly the files the manifest lists.
#include "tools/assetgen/assetgen.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: assetgen <installation directory> [manifest file]\n");
        return 2;
    }
    std::vector<std::string> written;
    std::string error;
    if (!assetgen::GenerateAll(argv[1], written, error)) {
        std::fprintf(stderr, "assetgen: %s\n", error.c_str());
        return 1;
    }
    if (argc >= 3) {
        std::ofstream manifest(argv[2], std::ios::trunc);
        for (const std::string& file : written)
            manifest << file << '\n';
        if (!manifest) {
            std::fprintf(stderr, "assetgen: cannot write %s\n", argv[2]);
            return 1;
        }
    }
    std::printf("assetgen: %zu files written under %s\n", written.size(), argv[1]);
    return 0;
}
