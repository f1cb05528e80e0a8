// Unpacking zips written in the test: contents, progress, self-extracting stubs, and every
// way an entry could reach outside its folder.
#include "platform/archive/archive.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One entry for a zip written by the test.
struct TestEntry {
    TestEntry(std::string name, std::string data = "", mode_t type = AE_IFREG,
              std::string link = "")
        : name(std::move(name)), data(std::move(data)), type(type), link(std::move(link)) {}
    std::string name;
    std::string data; // file contents
    mode_t type;      // AE_IFREG, AE_IFDIR or AE_IFLNK
    std::string link; // symbolic link target
};

// Writes `entries` as a zip file with libarchive's writer.
void WriteZip(const fs::path& file, const std::vector<TestEntry>& entries) {
    struct archive* zip = archive_write_new();
    ASSERT_EQ(archive_write_set_format_zip(zip), ARCHIVE_OK);
    ASSERT_EQ(archive_write_open_filename(zip, file.c_str()), ARCHIVE_OK);
    for (const TestEntry& e : entries) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, e.type == AE_IFDIR ? 0755 : 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
        if (e.type == AE_IFLNK) archive_entry_set_symlink(entry, e.link.c_str());
        ASSERT_EQ(archive_write_header(zip, entry), ARCHIVE_OK) << archive_error_string(zip);
        if (!e.data.empty()) {
            ASSERT_EQ(archive_write_data(zip, e.data.data(), e.data.size()),
                      static_cast<la_ssize_t>(e.data.size()));
        }
        archive_entry_free(entry);
    }
    ASSERT_EQ(archive_write_close(zip), ARCHIVE_OK);
    archive_write_free(zip);
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarnhold-zip-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string Noise(size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

} // namespace

TEST(ExtractZip, UnpacksFilesAndFoldersWithProgress) {
    TempDir temp;
    const std::string texture = Noise(3 * 1024 * 1024);
    WriteZip(temp.path() / "map.zip", {{"dust/", "", AE_IFDIR},
                                       {"dust/dust.map", "sol.x\r\nmur.x\r\n"},
                                       {"dust/textures/wall.bmp", texture},
                                       {"./readme.txt", "hello"}});
    std::vector<archives::Progress> reports;
    archives::ExtractOptions options;
    options.progress = [&](const archives::Progress& p) { reports.push_back(p); };
    const fs::path out = temp.path() / "out" / "map";
    const archives::ExtractResult result =
        archives::ExtractZip(temp.path() / "map.zip", out, options);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.entries, (std::vector<std::string>{"dust/", "dust/dust.map",
                                                        "dust/textures/wall.bmp", "readme.txt"}));
    EXPECT_EQ(ReadFile(out / "dust" / "dust.map"), "sol.x\r\nmur.x\r\n");
    EXPECT_EQ(ReadFile(out / "dust" / "textures" / "wall.bmp"), texture);
    EXPECT_EQ(ReadFile(out / "readme.txt"), "hello");

    ASSERT_GE(reports.size(), 5u); // the start, each entry, and within the big one
    EXPECT_EQ(reports.front().entriesDone, 0u);
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].entriesDone, reports[i - 1].entriesDone);
        EXPECT_GE(reports[i].bytesDone, reports[i - 1].bytesDone);
    }
    EXPECT_EQ(reports.back().entriesDone, 4u);
    EXPECT_EQ(reports.back().entriesTotal, 4u);
    EXPECT_EQ(reports.back().bytesTotal, texture.size() + 19u);
    EXPECT_EQ(reports.back().bytesDone, reports.back().bytesTotal);

    // Unpacking again replaces the files.
    WriteZip(temp.path() / "map2.zip", {{"readme.txt", "second"}});
    ASSERT_TRUE(archives::ExtractZip(temp.path() / "map2.zip", out).ok);
    EXPECT_EQ(ReadFile(out / "readme.txt"), "second");
}

TEST(ExtractZip, UnpacksASelfExtractingProgram) {
    TempDir temp;
    WriteZip(temp.path() / "plain.zip", {{"tarnhold", "new program"}, {"models/a.qc", "$body"}});
    std::string exe = "MZ" + Noise(20000); // a program stub in front of the zip data
    exe += ReadFile(temp.path() / "plain.zip");
    std::ofstream(temp.path() / "setup.exe", std::ios::binary) << exe;

    const archives::ExtractResult result =
        archives::ExtractZip(temp.path() / "setup.exe", temp.path() / "out");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(ReadFile(temp.path() / "out" / "tarnhold"), "new program");
    EXPECT_EQ(ReadFile(temp.path() / "out" / "models" / "a.qc"), "$body");
}

TEST(ExtractZip, RefusesEntriesLeavingTheFolderAndWritesNothing) {
    TempDir temp;
    const fs::path inside = temp.path() / "a" / "b" / "out";
    const std::vector<std::string> badNames = {
        "../evil.txt", "x/../../evil.txt", "..\\evil.txt",         "/tmp/evil-abs.txt",
        "\\evil.txt",  "C:\\evil.txt",     "x/./../../../evil.txt"};
    for (const std::string& bad : badNames) {
        const fs::path zip = temp.path() / "bad.zip";
        WriteZip(zip, {{"good.txt", "fine"}, {bad, "gotcha"}});
        const archives::ExtractResult result = archives::ExtractZip(zip, inside);
        EXPECT_FALSE(result.ok) << bad;
        // The zip reader turns '\\' into '/', as zips written on Windows need.
        std::string named = bad;
        std::replace(named.begin(), named.end(), '\\', '/');
        EXPECT_NE(result.error.find("\"" + named + "\""), std::string::npos) << result.error;
        EXPECT_FALSE(fs::exists(inside / "good.txt")) << bad; // checked before writing
        EXPECT_TRUE(result.entries.empty());
    }
    EXPECT_FALSE(fs::exists(temp.path() / "a" / "b" / "evil.txt"));
    EXPECT_FALSE(fs::exists(temp.path() / "a" / "evil.txt"));
    EXPECT_FALSE(fs::exists("/tmp/evil-abs.txt"));
}

TEST(ExtractZip, SymbolicLinksStayInsideAndAreNeverWrittenThrough) {
    TempDir temp;
    const fs::path out = temp.path() / "out";
    const fs::path outside = temp.path() / "outside";
    fs::create_directories(outside);

    struct Case {
        std::vector<TestEntry> entries;
        std::string refused; // the entry named in the error
    };
    const std::vector<Case> cases = {
        {{{"etc", "", AE_IFLNK, "/etc"}}, "etc"},
        {{{"sub/up", "", AE_IFLNK, "../../outside"}}, "sub/up"},
        // Lexically inside, but the file would be written through the link on disk.
        {{{"d", "", AE_IFLNK, "."}, {"d/d/x.txt", "through a link"}}, "d/d/x.txt"},
    };
    for (const Case& c : cases) {
        WriteZip(temp.path() / "links.zip", c.entries);
        const archives::ExtractResult result = archives::ExtractZip(temp.path() / "links.zip", out);
        EXPECT_FALSE(result.ok) << c.refused;
        EXPECT_NE(result.error.find("\"" + c.refused + "\""), std::string::npos) << result.error;
        fs::remove_all(out);
    }

    // A link that stays inside is unpacked as a link.
    WriteZip(temp.path() / "ok.zip",
             {{"maps/a.map", "A"}, {"current", "", AE_IFLNK, "maps/a.map"}});
    const archives::ExtractResult ok = archives::ExtractZip(temp.path() / "ok.zip", out);
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_TRUE(fs::is_symlink(out / "current"));
    EXPECT_EQ(ReadFile(out / "current"), "A");

    // A link already on disk does not lead a file out of the folder.
    fs::create_directory_symlink(outside, out / "escape");
    WriteZip(temp.path() / "through.zip", {{"escape/x.txt", "gotcha"}});
    EXPECT_FALSE(archives::ExtractZip(temp.path() / "through.zip", out).ok);
    EXPECT_FALSE(fs::exists(outside / "x.txt"));
}

TEST(ExtractZip, FailsClearlyOnBadArchivesAndLimits) {
    TempDir temp;
    const archives::ExtractResult missing =
        archives::ExtractZip(temp.path() / "none.zip", temp.path() / "out");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("none.zip"), std::string::npos) << missing.error;

    std::ofstream(temp.path() / "junk.zip", std::ios::binary) << Noise(5000);
    EXPECT_FALSE(archives::ExtractZip(temp.path() / "junk.zip", temp.path() / "out").ok);

    // A truncated zip fails instead of unpacking half-read data as complete.
    WriteZip(temp.path() / "full.zip", {{"a.bin", Noise(200000)}});
    const std::string full = ReadFile(temp.path() / "full.zip");
    std::ofstream(temp.path() / "cut.zip", std::ios::binary) << full.substr(0, full.size() / 2);
    EXPECT_FALSE(archives::ExtractZip(temp.path() / "cut.zip", temp.path() / "out2").ok);

    WriteZip(temp.path() / "many.zip", {{"1", "x"}, {"2", "y"}, {"3", "z"}});
    archives::ExtractOptions fewEntries;
    fewEntries.maxEntries = 2;
    const archives::ExtractResult many =
        archives::ExtractZip(temp.path() / "many.zip", temp.path() / "out3", fewEntries);
    EXPECT_FALSE(many.ok);
    EXPECT_NE(many.error.find("more than 2 entries"), std::string::npos) << many.error;

    archives::ExtractOptions fewBytes;
    fewBytes.maxTotalBytes = 100000;
    const archives::ExtractResult big =
        archives::ExtractZip(temp.path() / "full.zip", temp.path() / "out4", fewBytes);
    EXPECT_FALSE(big.ok);
    EXPECT_NE(big.error.find("more than 100000 bytes"), std::string::npos) << big.error;
}

TEST(SafeEntryPath, NormalisesOrRefusesNames) {
    EXPECT_EQ(archives::SafeEntryPath("a/b.txt"), "a/b.txt");
    EXPECT_EQ(archives::SafeEntryPath("a\\b.txt"), "a/b.txt");
    EXPECT_EQ(archives::SafeEntryPath("./a//b/./c"), "a/b/c");
    EXPECT_EQ(archives::SafeEntryPath("dir/"), "dir");
    EXPECT_EQ(archives::SafeEntryPath("a..b/..c"), "a..b/..c");
    for (const char* bad : {"", ".", "./", "..", "a/..", "/a", "\\a", "C:a", "c:/a", "a/../b"})
        EXPECT_EQ(archives::SafeEntryPath(bad), "") << bad;
}
