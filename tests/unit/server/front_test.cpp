// The HTTP front's text rules (request decoding, the access-log form) and the files folder.
#include <gtest/gtest.h>

#include "server/files.h"
#include "server/http_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

std::string Body(server::Response& r) {
    if (r.fileFd < 0) return r.body;
    std::string text(r.fileSize, '\0');
    EXPECT_EQ(::pread(r.fileFd, text.data(), text.size(), 0), ssize_t(text.size()));
    return text;
}

} // namespace

TEST(ServerFront, RequestTargetsDecodeStrictly) {
    std::string path;
    EXPECT_TRUE(server::DecodePath("/tarnhold/map/de%73ert.exe", path));
    EXPECT_EQ(path, "/tarnhold/map/desert.exe");
    EXPECT_TRUE(server::DecodePath("/a+b%20c", path));
    EXPECT_EQ(path, "/a+b c") << "'+' is a plus in a path";
    for (const char* bad : {"/release.exe%00.txt", "/a%0a", "/a%7f", "/a%1", "/a%zz", "/%"})
        EXPECT_FALSE(server::DecodePath(bad, path)) << bad;

    std::vector<std::pair<std::string, std::string>> query;
    EXPECT_TRUE(server::DecodeQuery("A=1&B=x+y%26z&&C&D=%C3%A9", query));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"A", "1"}, {"B", "x y&z"}, {"C", ""}, {"D", "\xC3\xA9"}};
    EXPECT_EQ(query, expected);
    EXPECT_FALSE(server::DecodeQuery("A=%G1", query));
    EXPECT_TRUE(server::DecodeQuery("A=%00", query));
    EXPECT_EQ(query[0].second, std::string(1, '\0')) << "the scripts refuse it, with NO";
}

TEST(ServerFront, AccessLogHoldsNoPasswordOrPersonalText) {
    const std::string line = server::AccessLogTarget(
        "/script/nouveaujoueur.php3?LENUM=12&LENOM=Bob&LELOG=bob%40home&LEPWD=s%3Dcr%26t"
        "&LEMAIL=bob%40example.org&LESOFT=1&LEPWD=second&LEOLDPWD=1234");
    EXPECT_EQ(line, "/script/nouveaujoueur.php3?LENUM=12&LENOM=[3 bytes]&LELOG=[8 bytes]"
                    "&LEPWD=***&LEMAIL=[15 bytes]&LESOFT=1&LEPWD=***&LEOLDPWD=***");
    EXPECT_EQ(server::AccessLogTarget("/script/quitte_server.php3?KILLER=-3&COMMENT=gg+wp"),
              "/script/quitte_server.php3?KILLER=-3&COMMENT=[5 bytes]");
    // Nothing a client sends can forge a line or a field of the log.
    EXPECT_EQ(server::AccessLogTarget("/a\"b\\c\x01\xff?%3Cx%3E=1&k"),
              "/a\\x22b\\x5cc\\x01\\xff?[3 bytes]=1&k");
}

TEST(ServerFiles, OnlyRegularFilesInsideTheFolderAreServed) {
    const auto dir =
        std::filesystem::path(::testing::TempDir()) / ("files-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const auto root = dir / "files";
    std::filesystem::create_directories(root / "map");
    std::filesystem::create_directories(dir / "outside");
    std::ofstream(root / "release.exe") << "release";
    std::ofstream(root / "map" / "desert.exe") << "desert";
    std::ofstream(root / "map" / "Upper.exe") << "upper";
    std::ofstream(root / "map" / ".hidden.exe") << "hidden";
    std::ofstream(dir / "outside" / "secret.exe") << "secret";
    std::filesystem::create_symlink(dir / "outside" / "secret.exe", root / "map" / "linked.exe");
    std::filesystem::create_symlink(dir / "outside", root / "linkdir");
    ASSERT_EQ(::mkfifo((root / "map" / "pipe.exe").c_str(), 0600), 0);

    server::Response ok = server::ServeFile(root, "map/desert.exe");
    ASSERT_EQ(ok.status, 200);
    EXPECT_EQ(Body(ok), "desert");
    server::Response release = server::ServeFile(root, "release.exe");
    EXPECT_EQ(Body(release), "release");
    for (const char* refused : {"map/linked.exe", "linkdir/secret.exe", "map/.hidden.exe",
                                "map/pipe.exe", "map", "../outside/secret.exe", "map//desert.exe",
                                "map/../release.exe", "", "map/missing.exe"}) {
        server::Response r = server::ServeFile(root, refused);
        EXPECT_EQ(r.status, 404) << refused;
        EXPECT_LT(r.fileFd, 0) << refused;
    }
    EXPECT_EQ(server::MapArchives(root), std::vector<std::string>{"desert"});
    // A map folder that is a link is not listed either.
    std::filesystem::create_directories(dir / "other");
    std::filesystem::create_symlink(root / "map", dir / "other" / "map");
    EXPECT_TRUE(server::MapArchives(dir / "other").empty());
    std::filesystem::remove_all(dir);
}
