// The web site of tarnhold-server in a real browser: headless Chromium loads the home page of
// a server with games, accounts, match reports and board messages, and the text it renders is
// checked, a message carrying markup among it.
#include <gtest/gtest.h>

#include "tests/e2e/server/server_client.h"

#include <cstdio>

using namespace servertest;

namespace {

// What headless Chromium makes of `url`: its DOM after loading (--dump-dom), or a screenshot
// when `screenshot` is set. Chromium runs with a fresh profile and no background traffic.
std::string Chromium(const std::string& url, const std::filesystem::path& profile,
                     const std::string& screenshot = "") {
    std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu"
                          " --disable-quic --no-first-run --disable-background-networking"
                          " --disable-component-update --disable-sync --disable-dev-shm-usage"
                          " --user-data-dir=" +
                          profile.string();
    command += screenshot.empty() ? " --dump-dom "
                                  : " --window-size=390,1400 --screenshot=" + screenshot + " ";
    command += "'" + url + "' 2>/dev/null";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

// The text of the page's element with `id` (what a reader sees in that section), tags removed.
std::string SectionText(const std::string& dom, const std::string& id) {
    const size_t start = dom.find("id=\"" + id + "\"");
    if (start == std::string::npos) return "";
    const size_t end = dom.find("</section>", start);
    std::string text;
    bool inTag = false;
    for (size_t i = start; i < end && i < dom.size(); ++i) {
        if (dom[i] == '<') inTag = true;
        if (!inTag) text += dom[i];
        if (dom[i] == '>') {
            inTag = false;
            text += ' ';
        }
    }
    return text;
}

} // namespace

TEST(ServerSite, HomePageShowsGamesRankingBoardAndMapsInABrowser) {
    const auto dir = FreshDir("server-site");
    std::filesystem::create_directories(dir / "files" / "map");
    std::ofstream(dir / "files" / "map" / "desert.exe") << "archive";
    ServerProcess server(dir, {"--port", "0", "--db", (dir / "web.db").string(), "--files",
                               (dir / "files").string(), "--version", "2.0.0", "--url",
                               "http://127.0.0.1/tarnhold/release.exe"});
    ASSERT_GT(server.Port(), 0) << server.Logs();
    const int port = server.Port();
    const std::string account = "/script/nouveaujoueur.php3?LENUM=0&LEMAIL=&LESOFT=1&LEVERSION=1";
    ASSERT_EQ(Element(Get(port, account + "&LENOM=Sniper%20Sam&LELOG=sam&LEPWD=x").body, "CLE"),
              "1");
    ASSERT_EQ(Element(Get(port, account + "&LENOM=Rookie&LELOG=rook&LEPWD=y").body, "CLE"), "2");
    Get(port, "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=1&KILLER=12&KILLED=3&SNIPPER=2"
              "&SNIPPED=0&COMMENT=&LEPWD=x");
    Get(port, "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=2&KILLER=1&KILLED=7&SNIPPER=0"
              "&SNIPPED=1&COMMENT=&LEPWD=y");
    Get(port, "/script/set_server.php3?LESOFT=1&LEJOUEUR=1&LAVERSION=1.0.0&LECOMMENT="
              "Couloirs%20%26%20friends&LEPWD=x");
    Get(port,
        "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=2&LETYP=0&LEMESS=good%20game%20all&LEPWD=y");
    Get(port, "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=0&LETYP=0&LEMESS="
              "%3Cscript%3Edocument.title%3D%27owned%27%3C%2Fscript%3E%3Cb%3Ebold%3C%2Fb%3E");
    Get(port, "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=1&LETYP=1&LEMESS=private%20note&LEPWD=x");

    const std::string dom =
        Chromium("http://127.0.0.1:" + std::to_string(port) + "/", dir / "profile");
    ASSERT_TRUE(Contains(dom, "<title>Tarnhold</title>")) << dom;

    const std::string games = SectionText(dom, "games");
    EXPECT_TRUE(Contains(games, "Sniper Sam")) << games;
    EXPECT_TRUE(Contains(games, "Couloirs &amp; friends")) << games;
    EXPECT_TRUE(Contains(games, "1.0.0"));

    // Sam: 12 kills, 3 deaths, 2 sniper kills: score 19, rank 4; Rookie: score -11, rank 1.
    const std::string ranking = SectionText(dom, "ranking");
    EXPECT_TRUE(Contains(ranking, "1  Sniper Sam  12  3  2  4")) << ranking;
    EXPECT_TRUE(Contains(ranking, "2  Rookie  1  7  0  1")) << ranking;

    // The markup of a message is shown as text: no script element, no bold element, and the
    // page title unchanged.
    const std::string board = SectionText(dom, "board");
    EXPECT_TRUE(Contains(board, "good game all")) << board;
    EXPECT_TRUE(Contains(board, "&lt;script&gt;document.title='owned'&lt;/script&gt;&lt;b&gt;bold"))
        << board;
    EXPECT_FALSE(Contains(dom, "<script")) << dom;
    EXPECT_FALSE(Contains(dom, "<b>bold")) << dom;
    EXPECT_FALSE(Contains(board, "private note")) << "private messages stay off the page";

    const std::string maps = SectionText(dom, "maps");
    EXPECT_TRUE(Contains(maps, "DESERT")) << maps;
    EXPECT_TRUE(Contains(dom, "href=\"/tarnhold/map/desert.exe\""));
    EXPECT_TRUE(Contains(dom, "Latest release:"));

    // Served with its own style sheet and a policy that allows no script at all.
    const Reply page = Get(port, "/");
    EXPECT_TRUE(Contains(page.Header("Content-Security-Policy"), "default-src 'none'"));
    EXPECT_EQ(Get(port, "/site.css").Header("Content-Type"), "text/css; charset=UTF-8");
    EXPECT_EQ(Get(port, "/nothing-here").status, 404);
}
