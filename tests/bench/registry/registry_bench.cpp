// Time to open a settings file and read the menu's values from it, and to save the menu's
// values into it (all together, as the game saves them, and one write at a time for
// comparison), for valid files of 1, 4 and 16 MB (the largest the store reads): the game key
// holds the real values plus as many filler values as the size needs. The time grows in
// proportion to the size (see the fitted complexity), and the 16 MB file is read well within a
// second.
#include "platform/registry/registry.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kAccountKey = "Software\\Vesk-Soft";
constexpr const char* kGameKey = "Software\\Vesk-Soft\\Tarnhold";
constexpr const char* kAccountValues[] = {"Id", "Login", "Password", "Email", "Name"};
constexpr const char* kGameValues[] = {
    "Skin", "Killer", "Killed", "Snipper", "Snipped", "Power",  "Souris", "Type",
    "Full", "Bit",    "Res",    "Draw",    "D3D",     "Tex",    "Qua",    "Mode",
    "Box",  "Dplay1", "Dplay2", "Absent1", "Absent2", "Absent3"};
constexpr int kStored = 2 + 19; // Id, Login and the game values before "Absent1"

// A settings file of about `bytes` bytes (never more than the store reads).
std::filesystem::path SettingsFile(size_t bytes) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tarnhold-bench-registry-" + std::to_string(::getpid()) + "-" +
                       std::to_string(bytes) + ".reg");
    if (std::filesystem::exists(file)) return file;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft]\r\n\"Id\"=\"12\"\r\n"
                       "\"Login\"=\"someone\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n";
    for (const char* name : kGameValues)
        if (std::string_view(name).rfind("Absent", 0) != 0)
            text += std::string("\"") + name + "\"=\"7\"\r\n";
    for (size_t n = 0; text.size() + 64 < bytes; ++n)
        text += "\"Kept from another tool " + std::to_string(n) + "\"=\"some text of a value\"\r\n";
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

void BM_OpenAndReadTheMenuValues(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) << 20;
    const auto file = SettingsFile(std::min<size_t>(bytes, registry::kMaxFileBytes));
    const registry::Store store(file);
    for (auto _ : state) {
        const registry::Snapshot snapshot = store.Open();
        int found = 0;
        for (const char* name : kAccountValues)
            found +=
                !snapshot.ReadSetting(registry::RootKey::LocalMachine, kAccountKey, name).IsEmpty();
        for (const char* name : kGameValues)
            found +=
                !snapshot.ReadSetting(registry::RootKey::LocalMachine, kGameKey, name).IsEmpty();
        if (found != kStored || !snapshot.Notice().empty())
            state.SkipWithError("the settings file did not read as written");
        benchmark::DoNotOptimize(found);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(int64_t(state.iterations()) *
                            int64_t(std::filesystem::file_size(file)));
}
BENCHMARK(BM_OpenAndReadTheMenuValues)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// The values the game saves (account, game key and key bindings: about forty), each changed.
std::vector<registry::SettingWrite> MenuWrites(int round) {
    std::vector<registry::SettingWrite> writes;
    for (const char* name : kAccountValues)
        writes.push_back({registry::RootKey::LocalMachine, kAccountKey, name, std::to_string(round),
                          registry::ValueType::Text});
    for (int i = 0; i < 35; ++i)
        writes.push_back({registry::RootKey::LocalMachine, kGameKey,
                          i < 19 ? kGameValues[i] : "Key" + std::to_string(i),
                          std::to_string(round + i), registry::ValueType::Text});
    return writes;
}

void BM_SaveTheMenuValues(benchmark::State& state) {
    const bool together = state.range(1) != 0;
    const size_t bytes = size_t(state.range(0)) << 20;
    const auto file = SettingsFile(std::min<size_t>(bytes, registry::kMaxFileBytes));
    const registry::Store store(file);
    int round = 0;
    for (auto _ : state) {
        const std::vector<registry::SettingWrite> writes = MenuWrites(++round);
        size_t stored = 0;
        if (together) {
            for (const bool ok : store.WriteSettings(writes))
                stored += ok;
        } else {
            for (const registry::SettingWrite& w : writes)
                stored += store.WriteSetting(w.root, w.keyPath, w.name, w.value, w.type);
        }
        if (stored != writes.size()) state.SkipWithError("a value was not stored");
    }
    state.SetLabel(together ? "together" : "one at a time");
}
BENCHMARK(BM_SaveTheMenuValues)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({16, 1}) // one at a time, 16 MB takes minutes: forty rewrites of the whole file
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
