// The installed game: `cmake --install` of this build into a fresh prefix, then the prefix as a
// player's machine has it: desktop entry, icons and metainfo accepted by the desktop's own
// validators, and the program, started from another folder with the prefix read-only, taking
// the player's whole way from the splash through the lobby into a match and out again, and
// downloading a map from the companion server into the player's XDG data folder and playing
// it, without changing one file of the prefix.
#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"
#include "tests/support/companion_server.h"
#include "tests/support/discovery_port.h"
#include "tests/support/self_extracting_zip.h"
#include "ui/lobby.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Runs `argv` to its end (at most `limit`) with its output in `dir`/`name`.out; the exit code
// and the output.
std::pair<int, std::string> RunToEnd(const std::vector<std::string>& argv, const fs::path& dir,
                                     const std::string& name,
                                     const std::map<std::string, std::string>& env = {},
                                     std::chrono::milliseconds limit = 60s) {
    apptest::Process process(argv, env, dir / (name + ".out"));
    const int code = process.WaitExit(limit);
    return {code, process.Output()};
}

// What identifies a file system entry's state: a rewrite, a replacement (new inode), a change
// of size or permissions, or an entry added or removed in a folder all change it.
struct EntryState {
    ino_t inode;
    mode_t mode;
    off_t size;
    int64_t modifiedNs;
    bool operator==(const EntryState&) const = default;
};

std::map<std::string, EntryState> Snapshot(const fs::path& root) {
    std::map<std::string, EntryState> entries;
    const auto add = [&](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return;
        entries[path.lexically_relative(root).string()] = {st.st_ino, st.st_mode, st.st_size,
                                                           int64_t(st.st_mtim.tv_sec) * 1000000000 +
                                                               st.st_mtim.tv_nsec};
    };
    add(root);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        add(entry.path());
    return entries;
}

// The entries whose state differs between two snapshots, one per line.
std::string Changes(const std::map<std::string, EntryState>& before,
                    const std::map<std::string, EntryState>& after) {
    std::string changes;
    for (const auto& [path, state] : before) {
        const auto found = after.find(path);
        if (found == after.end())
            changes += "removed " + path + "\n";
        else if (!(found->second == state))
            changes += "changed " + path + "\n";
    }
    for (const auto& [path, state] : after)
        if (!before.contains(path)) changes += "added " + path + "\n";
    return changes;
}

// chmod -R a-w (`writable` false) or u+w (true); links are left alone.
void SetWritable(const fs::path& root, bool writable) {
    const fs::perms bits =
        writable ? fs::perms::owner_write
                 : fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const fs::perm_options how = writable ? fs::perm_options::add : fs::perm_options::remove;
    fs::permissions(root, bits, how);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_symlink()) fs::permissions(entry.path(), bits, how);
}

// A decoded 8-bit RGBA PNG as written for the icon theme; width 0 when it is not one.
struct Png {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    uint8_t Alpha(uint32_t x, uint32_t y) const { return rgba[(size_t(y) * width + x) * 4 + 3]; }
};

uint32_t BigEndian(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint32_t(uint8_t(s[at + 3]));
}

Png ReadRgbaPng(const fs::path& path) {
    const std::string bytes = apptest::ReadFile(path);
    Png png;
    if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return png;
    std::string packed;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = BigEndian(bytes, at);
        if (length > bytes.size() - at - 12) return {};
        const std::string type = bytes.substr(at + 4, 4);
        if (type == "IHDR") {
            png.width = BigEndian(bytes, at + 8);
            png.height = BigEndian(bytes, at + 12);
            if (bytes.compare(at + 16, 5, std::string("\x08\x06\x00\x00\x00", 5)) != 0) return {};
        } else if (type == "IDAT") {
            packed += bytes.substr(at + 8, length);
        }
        at += 12 + length;
    }
    const size_t stride = size_t(png.width) * 4 + 1;
    std::string raw(stride * png.height, '\0');
    uLongf rawSize = uLongf(raw.size());
    if (png.width == 0 || png.width > 1024 ||
        uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                   reinterpret_cast<const Bytef*>(packed.data()), uLong(packed.size())) != Z_OK ||
        rawSize != raw.size())
        return {};
    for (uint32_t y = 0; y < png.height; ++y) {
        if (raw[y * stride] != 0) return {}; // only unfiltered rows are read here
        png.rgba.insert(png.rgba.end(), raw.begin() + long(y * stride + 1),
                        raw.begin() + long((y + 1) * stride));
    }
    return png;
}

class InstalledGame : public ::testing::Test {
protected:
    void SetUp() override {
        dir = apptest::FreshDir("install-e2e");
        prefix = dir / "prefix";
        const auto [code, output] =
            RunToEnd({CMAKE_COMMAND, "--install", TARNHOLD_BINARY_DIR, "--prefix", prefix.string()},
                     dir, "install");
        ASSERT_EQ(code, 0) << output;
        content = prefix / "share" / "tarnhold";
    }
    void TearDown() override {
        if (fs::exists(prefix)) SetWritable(prefix, true);
        if (!HasFailure()) fs::remove_all(dir); // kept for a look after a failure
    }

    fs::path dir, prefix, content;
};

TEST_F(InstalledGame, PrefixHoldsProgramsContentAndAValidDesktopEntryIconsMetainfoAndUnit) {
    for (const char* program :
         {"games/tarnhold", "bin/tarnhold-server", "games/tarnhold-inspect"}) {
        const fs::path path = prefix / program;
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_NE(fs::status(path).permissions() & fs::perms::others_exec, fs::perms::none);
    }

    // Exactly the generated content, byte for byte the size the build made.
    const std::string manifest =
        apptest::ReadFile(fs::path(TARNHOLD_BINARY_DIR) / "tools/assetgen/content.manifest");
    std::vector<std::string> listed;
    for (size_t at = 0, end; (end = manifest.find('\n', at)) != std::string::npos; at = end + 1)
        listed.push_back(manifest.substr(at, end - at));
    ASSERT_GT(listed.size(), 100u);
    for (const std::string& file : listed)
        EXPECT_EQ(fs::file_size(content / file),
                  fs::file_size(fs::path(TARNHOLD_INSTALL_DIR) / file))
            << file;
    std::vector<std::string> installed;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(content))
        if (entry.is_regular_file()) installed.push_back(entry.path().lexically_relative(content));
    std::sort(listed.begin(), listed.end());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, listed);

    // The desktop's own validators accept the entry and the metainfo.
    const fs::path desktop = prefix / "share/applications/tarnhold.desktop";
    const auto [desktopCode, desktopOut] =
        RunToEnd({"desktop-file-validate", desktop}, dir, "desktop");
    EXPECT_EQ(desktopCode, 0) << desktopOut;
    EXPECT_EQ(desktopOut, "");
    const std::string entry = apptest::ReadFile(desktop);
    EXPECT_NE(entry.find("\nExec=" + (prefix / "games/tarnhold").string() + "\n"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nIcon=tarnhold\n"), std::string::npos) << entry;
    std::vector<fs::path> metainfo;
    for (const fs::directory_entry& e : fs::directory_iterator(prefix / "share/metainfo"))
        metainfo.push_back(e.path());
    ASSERT_EQ(metainfo.size(), 1u);
    EXPECT_TRUE(metainfo[0].string().ends_with(".metainfo.xml"));
    const auto [appstreamCode, appstreamOut] =
        RunToEnd({"appstreamcli", "validate", "--no-net", metainfo[0]}, dir, "appstream");
    EXPECT_EQ(appstreamCode, 0) << appstreamOut;
    EXPECT_NE(apptest::ReadFile(metainfo[0]).find("tarnhold.desktop</launchable>"),
              std::string::npos);

    // One icon per theme size, that size, transparent at the corners and solid in the middle.
    const fs::path theme = prefix / "share/icons/hicolor";
    for (const uint32_t size : {16u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const Png icon = ReadRgbaPng(theme / folder / "apps/tarnhold.png");
        ASSERT_EQ(icon.width, size) << folder;
        EXPECT_EQ(icon.height, size);
        EXPECT_EQ(icon.Alpha(0, 0), 0) << folder;
        EXPECT_EQ(icon.Alpha(size - 1, size - 1), 0) << folder;
        EXPECT_EQ(icon.Alpha(size / 2, size / 2), 255) << folder;
    }
    EXPECT_NE(apptest::ReadFile(theme / "scalable/apps/tarnhold.svg").find("<svg"),
              std::string::npos);

    for (const char* package : {"tarnhold", "tarnhold-server"})
        for (const char* doc : {"copyright", "changelog.gz"})
            EXPECT_TRUE(fs::is_regular_file(prefix / "share/doc" / package / doc)) << doc;

    // The server's unit starts the server of this prefix.
    const std::string unit =
        apptest::ReadFile(prefix / "lib/systemd/system/tarnhold-server.service");
    EXPECT_NE(unit.find("ExecStart=" + (prefix / "bin/tarnhold-server").string() + " "),
              std::string::npos)
        << unit;
}

// The script's way from the main menu into a match on the Create Game entry `mapIndex` of the
// local network, then Escape.
std::string MatchThroughTheMenus(size_t mapIndex) {
    return "answer * OK\n"
           "waitscreen mainmenu\n"
           "type txtYourName Solo\n"
           "press \"CONFIGURE \"\n"
           "press \"LET'S FIGHT\"\n"
           "waitscreen session_list\n"
           "press \"NEW GAME\"\n"
           "waitscreen create_game\n"
           "select Combo1 " +
           std::to_string(mapIndex) +
           "\n"
           "type txtGameName \"Solo game\"\n"
           "press CREATE\n"
           "waitscreen waiting_room\n"
           "press START\n"
           "wait 200\n"
           "key down 1\nwait 2\nkey up 1\n";
}

TEST_F(InstalledGame, ReadOnlyPrefixPlaysFromAnotherFolderAndDownloadsMapsIntoThePlayersFolder) {
    SetWritable(prefix, false);
    const std::map<std::string, EntryState> before = Snapshot(prefix);
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    const std::map<std::string, std::string> headless = {
        {"SDL_VIDEODRIVER", "dummy"},
        {"SDL_AUDIODRIVER", "dummy"},
        {"TARNHOLD_NO_AUDIO", "1"},
        {"TARNHOLD_SEED", "3"},
        {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
        {"TARNHOLD_DISCOVERY_PORT", std::to_string(testsupport::FreshDiscoveryPort())}};
    // The installed program started from `elsewhere` with `script`, the variables of `env` on
    // top of `headless`, and TARNHOLD_HOME only when `env` names it.
    const auto play = [&](const std::string& name, const std::string& script,
                          std::map<std::string, std::string> env) {
        std::ofstream(dir / (name + ".txt")) << script;
        env.insert(headless.begin(), headless.end());
        env["TARNHOLD_SCRIPT"] = (dir / (name + ".txt")).string();
        const char* keepHome = env.contains("TARNHOLD_HOME") ? "" : "unset TARNHOLD_HOME; ";
        return RunToEnd({"/bin/sh", "-c", std::string(keepHome) + "cd \"$1\" && exec \"$2\"", "sh",
                         elsewhere.string(), (prefix / "games/tarnhold").string()},
                        dir, name, env, 120s);
    };

    // 1. A match on the built-in map COULOIRS through the menus, with a settings directory
    // named relative to the starting folder.
    const std::vector<std::string> maps = ui::MapChoices({content / "map"});
    const auto couloirs = std::find(maps.begin(), maps.end(), "COULOIRS") - maps.begin();
    ASSERT_LT(size_t(couloirs), maps.size());
    {
        const auto [code, output] =
            play("solo", MatchThroughTheMenus(size_t(couloirs)), {{"TARNHOLD_HOME", "home"}});
        ASSERT_EQ(code, 0) << output;
        EXPECT_NE(output.find("content from " + content.string() + "\n"), std::string::npos)
            << output;
        for (const char* step :
             {"screen open: splash", "screen open: mainmenu", "screen open: waiting_room",
              "match on map couloirs", "match ended"})
            EXPECT_NE(output.find(step), std::string::npos) << step << "\n" << output;
        EXPECT_EQ(output.find("fatal"), std::string::npos) << output;
        EXPECT_EQ(output.find("not written"), std::string::npos) << output;
    }
    // The match's settings and the corridor's logos went to the player's own folders.
    const fs::path home = elsewhere / "home";
    EXPECT_NE(apptest::ReadFile(home / "registry.reg").find("\"Killer\"=\"0\""), std::string::npos);
    EXPECT_TRUE(apptest::ReadFile(home / "data/media/logo4.bmp") ==
                apptest::ReadFile(content / "media/logo4_1.bmp"))
        << "the corridor's last logo is not in " << home / "data/media";

    // 2. A player of a desktop session (no TARNHOLD_HOME) fetches DESERT from the web server
    // typed on the menu, through DOWNLOAD MAPS: it is unpacked into the XDG data folder.
    testsupport::CompanionServer server(dir / "web");
    ASSERT_FALSE(server.Host().empty()) << server.Log();
    std::vector<std::pair<std::string, std::string>> desert;
    for (const fs::directory_entry& entry : fs::directory_iterator(content / "map"))
        if (entry.path().stem() == "usine")
            desert.emplace_back("map/desert" + entry.path().extension().string(),
                                apptest::ReadFile(entry.path()));
    ASSERT_GE(desert.size(), 4u);
    std::ofstream(server.Files() / "map" / "desert.exe", std::ios::binary)
        << testsupport::SelfExtractingZip(desert);
    const fs::path dataHome = dir / "xdg-data";
    const fs::path ownMaps = dataHome / "tarnhold" / "map";
    const std::map<std::string, std::string> desktop = {
        {"HOME", (dir / "player").string()},
        {"XDG_CONFIG_HOME", (dir / "xdg-config").string()},
        {"XDG_DATA_HOME", dataHome.string()}};
    {
        const auto [code, output] =
            play("download",
                 "answer * OK\n"
                 "waitscreen mainmenu\n"
                 "press \"WEB SERVER\"\n"
                 "type servertxt " +
                     server.Host() +
                     "\n"
                     "press \"DOWNLOAD MAPS\"\n"
                     "waitscreen map_download\n"
                     "press CHECK\n"
                     "select List2 0\n"
                     "press \"DOWNLOAD MAP\"\n"
                     "waitfile " +
                     (ownMaps / "desert.map").string() + "\nwait 10\nquit\n",
                 desktop);
        ASSERT_EQ(code, 0) << output;
        EXPECT_EQ(output.find("failed"), std::string::npos) << output;
    }
    EXPECT_EQ(server.Served("/tarnhold/map/desert.exe"), 1u) << server.Log();
    EXPECT_EQ(apptest::ReadFile(ownMaps / "desert.map"),
              apptest::ReadFile(content / "map" / "usine.map"));
    EXPECT_TRUE(fs::is_regular_file(dataHome / "tarnhold" / "desert.exe"));
    EXPECT_FALSE(fs::exists(dir / "player" / ".local")) << "XDG_DATA_HOME is the data folder";

    // 3. The next start lists DESERT among the installed maps and plays it from there.
    const std::vector<std::string> withDesert = ui::MapChoices({ownMaps, content / "map"});
    const auto desertEntry =
        std::find(withDesert.begin(), withDesert.end(), "DESERT") - withDesert.begin();
    ASSERT_LT(size_t(desertEntry), withDesert.size());
    {
        const auto [code, output] =
            play("desert", MatchThroughTheMenus(size_t(desertEntry)), desktop);
        ASSERT_EQ(code, 0) << output;
        for (const std::string& step : std::vector<std::string>{
                 "match on map desert",
                 "map desert: built from " + (ownMaps / "desert.map").string(), "match ended"})
            EXPECT_NE(output.find(step), std::string::npos) << step << "\n" << output;
        EXPECT_EQ(output.find("fatal"), std::string::npos) << output;
    }
    EXPECT_TRUE(fs::is_regular_file(dir / "xdg-config" / "tarnhold" / "registry.reg"));

    // The installed inspector finds the same content by itself.
    const auto [inspectCode, inspectOut] =
        RunToEnd({(prefix / "games/tarnhold-inspect").string(), "map", "cour"}, dir, "inspect");
    EXPECT_EQ(inspectCode, 0) << inspectOut;

    EXPECT_EQ(Changes(before, Snapshot(prefix)), "");
}

} // namespace
