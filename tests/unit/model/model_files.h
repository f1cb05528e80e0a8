// tests/unit/model/model_files.h — a private folder of model files written by a test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace modeltest {

// A fresh folder under the system temp directory, removed with its files at the end of the test.
class ModelDir {
public:
    ModelDir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("tarnhold-model-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ModelDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ModelDir(const ModelDir&) = delete;
    ModelDir& operator=(const ModelDir&) = delete;

    std::string Path() const { return path_.string(); }

    // Writes `text` with its "\n" line ends turned into CR LF, as the game's files are written.
    void Write(std::string_view name, std::string_view text) const {
        std::string crlf;
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        WriteRaw(name, crlf);
    }
    void WriteRaw(std::string_view name, std::string_view bytes) const {
        const std::filesystem::path file = path_ / std::string(name);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    // A 2 x 2 24-bit BMP of one colour.
    void WriteBmp(std::string_view name, uint8_t r = 200, uint8_t g = 100, uint8_t b = 50) const {
        std::vector<uint8_t> bmp(54 + 16, 0);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                bmp[at + i] = uint8_t(v >> (8 * i));
        };
        bmp[0] = 'B';
        bmp[1] = 'M';
        put32(2, uint32_t(bmp.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, 2);
        put32(22, 2);
        bmp[26] = 1;
        bmp[28] = 24;
        put32(34, 16);
        for (int row = 0; row < 2; ++row) {
            for (int px = 0; px < 2; ++px) {
                const size_t at = 54 + size_t(row) * 8 + size_t(px) * 3;
                bmp[at] = b;
                bmp[at + 1] = g;
                bmp[at + 2] = r;
            }
        }
        WriteRaw(name, std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()));
    }

private:
    std::filesystem::path path_;
};

} // namespace modeltest
