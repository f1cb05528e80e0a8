// The source tree against its rules: every include follows the module order of
// cmake/layers.txt, and every C++ file is formatted as .clang-format says.
#include "tests/support/command.h"
#include "tests/support/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = TARNHOLD_SOURCE_DIR;

// Folders below the root that hold no module: tests may include anything, the rest is not code.
const std::set<std::string> kNotModules = {"tests", "build", "cmake", "scripts", ".git", ".ci"};

struct Layers {
    std::vector<std::string> order;                   // lowest first, as listed
    std::map<std::string, std::set<std::string>> may; // module -> modules it may include
    std::vector<std::string> problems;                // malformed or misordered lines
};

Layers ReadLayers() {
    Layers layers;
    std::ifstream in(kRoot / "cmake" / "layers.txt");
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream fields(line);
        std::string head;
        if (!(fields >> head)) continue;
        if (head.back() != ':') {
            layers.problems.push_back("line " + std::to_string(number) + ": no ':' after " + head);
            continue;
        }
        head.pop_back();
        if (layers.may.contains(head))
            layers.problems.push_back("line " + std::to_string(number) + ": " + head + " twice");
        auto& allowed = layers.may[head];
        for (std::string dep; fields >> dep;) {
            if (std::find(layers.order.begin(), layers.order.end(), dep) == layers.order.end())
                layers.problems.push_back("line " + std::to_string(number) + ": " + head +
                                          " names " + dep + ", which is not listed above it");
            allowed.insert(dep);
        }
        layers.order.push_back(head);
    }
    return layers;
}

bool IsSource(const fs::path& p) {
    const auto ext = p.extension();
    return ext == ".cpp" || ext == ".h" || ext == ".hpp" || ext == ".inl";
}

// Module folders: the top-level folders, and one level deeper under platform/ and tools/.
std::vector<std::string> ModuleFolders() {
    std::vector<std::string> folders;
    for (const auto& top : fs::directory_iterator(kRoot)) {
        const std::string name = top.path().filename().string();
        if (!top.is_directory() || kNotModules.contains(name) || name.starts_with("build"))
            continue;
        if (name == "platform" || name == "tools") {
            for (const auto& sub : fs::directory_iterator(top.path()))
                if (sub.is_directory())
                    folders.push_back(name + "/" + sub.path().filename().string());
        } else {
            folders.push_back(name);
        }
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

bool HoldsCode(const std::string& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder))
        if (entry.is_regular_file() && IsSource(entry.path())) return true;
    return false;
}

// The module an include path names, or "" for a header outside the tree ("imgui.h").
std::string ModuleOf(const std::string& include) {
    const auto slash = include.find('/');
    if (slash == std::string::npos) return "";
    const std::string top = include.substr(0, slash);
    if (top == "platform" || top == "tools") {
        const auto second = include.find('/', slash + 1);
        return second == std::string::npos ? include : include.substr(0, second);
    }
    return fs::is_directory(kRoot / top) ? top : "";
}

// Every include of `folder`'s sources that `layers` does not allow, as "file:line: text".
std::vector<std::string> ForbiddenIncludes(const Layers& layers, const std::string& folder) {
    static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<std::string> found;
    const auto& allowed = layers.may.at(folder);
    for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
        if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (!std::regex_search(line, match, kInclude)) continue;
            const std::string target = ModuleOf(match[1]);
            if (target.empty() || target == folder || allowed.contains(target)) continue;
            found.push_back(fs::relative(entry.path(), kRoot).string() + ":" +
                            std::to_string(number) + ": " + line + "  (" + folder +
                            " may not include " + target + ")");
        }
    }
    return found;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += "\n  " + line;
    return text;
}

TEST(Layers, TheOrderIsWellFormedAndNamesEveryModule) {
    const Layers layers = ReadLayers();
    ASSERT_FALSE(layers.order.empty()) << "cmake/layers.txt is missing or empty";
    EXPECT_TRUE(layers.problems.empty()) << "cmake/layers.txt:" << Lines(layers.problems);

    std::vector<std::string> unlisted;
    for (const auto& folder : ModuleFolders())
        if (!layers.may.contains(folder) && HoldsCode(folder)) unlisted.push_back(folder);
    EXPECT_TRUE(unlisted.empty()) << "folders with code that cmake/layers.txt does not place:"
                                  << Lines(unlisted);
}

TEST(Layers, EveryIncludeFollowsTheOrder) {
    const Layers layers = ReadLayers();
    ASSERT_FALSE(layers.order.empty()) << "cmake/layers.txt is missing or empty";
    std::vector<std::string> forbidden;
    size_t checked = 0;
    for (const auto& folder : layers.order) {
        if (!fs::is_directory(kRoot / folder)) continue;
        const auto found = ForbiddenIncludes(layers, folder);
        forbidden.insert(forbidden.end(), found.begin(), found.end());
        ++checked;
    }
    EXPECT_GE(checked, 10u) << "too few module folders found under " << kRoot;
    EXPECT_TRUE(forbidden.empty())
        << "includes against the module order of cmake/layers.txt:" << Lines(forbidden);
}

TEST(Layers, EverySourceIsFormatted) {
    const bool haveClangFormat = std::system("command -v clang-format >/dev/null 2>&1") == 0;
    TARNHOLD_REQUIRE_RESOURCE(haveClangFormat, "clang-format (scripts/setup installs it)");
    const std::string command = "\"" + (kRoot / "scripts" / "format").string() + "\" --check 2>&1";
    const auto [status, output] = testsupport::RunCommand(command);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("are formatted"), std::string::npos) << output;
}

} // namespace
