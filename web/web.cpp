// web/web.cpp — the web service operations and their reply handling.
//
// Index
//   1. State
//   2. The request frame: wait view, pointer, load
//   3. Operations
//   4. Downloads
//   5. Reply readers
//   6. Connections
#include "web/web.h"

#include "core/game.h"
#include "core/game_state.h"
#include "net/net.h"
#include "platform/archive/archive.h"
#include "platform/http/http.h"
#include "platform/system/system.h"
#include "platform/window/window.h"
#include "platform/xml/xml.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <future>
#include <optional>
#include <random>

namespace web {

// =============================================================================================
// 1. State
// =============================================================================================

std::vector<ServerRecord> ServerList;
std::vector<std::string> ServerLines;
std::vector<std::string> MapList;
int32_t ServerKey = 0;
std::string ServerVersion;
std::string DownloadUrl;

namespace {

WaitView* gWaitView = nullptr;               // see SetWaitView
SessionListView* gSessionListView = nullptr; // see SetSessionListView

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kCommentPrompt =
    "Send a message (bugs,remarks) to DuzeVovo Thank you !!";

// =============================================================================================
// 2. The request frame
// =============================================================================================

// Runs `work` on a worker thread while the wait view shows `label` (always logged), and
// returns its result. The pointer is the hourglass meanwhile.
template <class Work> auto WithWebWindow(const std::string& label, Work work) {
    window::SetPointer(window::Pointer::Hourglass);
    sys::Log("web: " + label);
    auto pending = std::async(std::launch::async, std::move(work));
    if (gWaitView != nullptr) {
        // The short wait per question keeps a pumping view from spinning while the work runs.
        gWaitView->ShowUntil(label, [&pending] {
            return pending.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
        });
    }
    auto result = pending.get();
    window::SetPointer(window::Pointer::Normal);
    return result;
}

enum class Ending { Short, Report };

std::string WaitLabel(Ending ending) {
    std::string label = "Please Wait Connexion to " + net::WebServerName + " in progress...";
    if (ending == Ending::Report) label += " to send Game Informations !! Thank You";
    return label;
}

http::Options RequestOptions() {
    http::Options options;
    options.connectTimeout = std::chrono::seconds(10);
    options.totalTimeout = std::chrono::seconds(30);
    options.maxBodyBytes = 1u << 20; // the replies are a few lines of XML
    options.userAgent = core::ProgramName + "/" + core::VersionText;
    return options;
}

// `text` with `url` written without its query: the log never holds the account's password.
std::string WithoutQuery(std::string text, const std::string& url) {
    const size_t query = url.find('?');
    if (query == std::string::npos) return text;
    for (size_t at = text.find(url); at != std::string::npos; at = text.find(url, at + 1))
        text.replace(at, url.size(), url.substr(0, query) + "?...");
    return text;
}

// Fetches `url` while the web window shows `label`.
http::Response Fetch(const std::string& url, const std::string& label,
                     const http::Options& options = RequestOptions()) {
    http::Response response =
        WithWebWindow(label, [url, options] { return http::Get(url, options); });
    if (!response.ok) sys::Log("web: " + WithoutQuery(response.error, url));
    return response;
}

// One exchange: the reply as a document, or nothing when the load failed (logged only).
std::optional<xml::Document> Load(const std::string& url, Ending ending = Ending::Short) {
    const http::Response response = Fetch(url, WaitLabel(ending));
    if (!response.ok) return std::nullopt;
    xml::Document document;
    if (const xml::LoadResult loaded = document.LoadBytes(response.body); !loaded) {
        sys::Log("web: reply of " + WithoutQuery(url, url) + " is not XML: " + loaded.error);
        return std::nullopt;
    }
    return document;
}

// "http://" + net::WebServerName + `path` (which starts with "/").
std::string ServerUrl(std::string_view path) {
    return "http://" + net::WebServerName + std::string(path);
}

// "http://" + net::WebServerName + "/script/" + script + "?"
std::string ScriptUrl(std::string_view script) {
    return ServerUrl("/script/" + std::string(script) + "?");
}

// The query grows one "KEY=value" pair at a time, values percent-encoded.
class Query {
public:
    explicit Query(std::string_view script) : url_(ScriptUrl(script)) {}
    Query& Text(std::string_view key, std::string_view value) {
        if (!first_) url_ += '&';
        first_ = false;
        url_ += key;
        url_ += '=';
        url_ += http::EncodeQueryValue(value);
        return *this;
    }
    Query& Number(std::string_view key, int64_t value) { return Text(key, std::to_string(value)); }
    const std::string& Url() const { return url_; }

private:
    std::string url_;
    bool first_ = true;
};

void ClearServerLists() {
    ServerLines.clear();
    ServerList.clear();
    if (gSessionListView != nullptr) gSessionListView->ServerListsCleared();
}

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// True when `reply` came and is not the server's "NO" (logged as a refusal of `what`).
bool Accepted(const std::optional<xml::Document>& reply, const std::string& what) {
    if (!reply) return false;
    if (reply->DocumentElement().Text() != "NO") return true;
    sys::Log("web: the server refused " + what);
    return false;
}

// A password for an account whose player typed none: the server takes reports, posts and
// withdrawals only with the account's password, and an empty one proves nothing.
std::string DrawPassword() {
    constexpr std::string_view kSymbols =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, kSymbols.size() - 1);
    std::string password;
    for (int i = 0; i < 20; ++i)
        password += kSymbols[pick(random)];
    return password;
}

void AnnounceNewVersion() {
    // A reply without a version says nothing about a newer release.
    if (ServerVersion.empty() || ServerVersion == core::VersionText) return;
    window::Beep();
    window::MsgBox("New version " + ServerVersion + " at the url:" + std::string(kLineBreak) +
                       DownloadUrl,
                   core::ProgramName);
}

} // namespace

// =============================================================================================
// 3. Operations
// =============================================================================================

bool DeleteServer() {
    Query query("delete_server.php3");
    query.Number("CLE_SERVEUR", ServerKey)
        .Number("CLE_JOUEUR", core::AccountNumber)
        .Text("LEPWD", core::Password);
    return Load(query.Url(), Ending::Report).has_value();
}

bool devenir_server(std::string_view comment) {
    Query query("set_server.php3");
    query.Number("LESOFT", core::SoftKey)
        .Number("LEJOUEUR", core::AccountNumber)
        .Text("LAVERSION", core::VersionText)
        .Text("LECOMMENT", comment)
        .Text("LEPWD", core::Password);
    const std::optional<xml::Document> reply = Load(query.Url());
    if (!reply) return false;
    const std::string answer = reply->DocumentElement().Text();
    if (answer == "NO") {
        sys::Log("web: the server refused to publish the game");
        return false;
    }
    ServerKey = core::ToLong(answer);
    return true;
}

bool SendMatchReport(int32_t kills, int32_t deaths, int32_t sniperKills, int32_t snipedDeaths,
                     std::string_view comment) {
    Query query("quitte_server.php3");
    query.Number("CLE_SOFT", core::SoftKey)
        .Number("CLE_JOUEUR", core::AccountNumber)
        .Number("KILLER", kills)
        .Number("KILLED", deaths)
        .Number("SNIPPER", sniperKills)
        .Number("SNIPPED", snipedDeaths)
        .Text("COMMENT", comment)
        .Text("LEPWD", core::Password);
    return Accepted(Load(query.Url(), Ending::Report), "the match report");
}

void quitte_server() {
    if (net::WebServerName.empty()) return;
    const std::optional<std::string> comment =
        window::InputBox(kCommentPrompt, core::ProgramName, "");
    int32_t kills = 0, deaths = 0, sniperKills = 0, snipedDeaths = 0;
    const int32_t local = core::LocalIndex;
    if (local >= 0 && local < core::kPlayerSlots && core::Players[size_t(local)]) {
        const player::player& p = *core::Players[size_t(local)];
        kills = p.tueur;
        deaths = p.tue;
        sniperKills = p.snipper;
        snipedDeaths = p.snipped;
    }
    SendMatchReport(kills, deaths, sniperKills, snipedDeaths, comment.value_or(""));
}

AccountAnswer SendAccount(const AccountFields& typed) {
    AccountFields fields = typed;
    if (fields.password.empty()) fields.password = DrawPassword();
    Query query("nouveaujoueur.php3");
    query.Number("LENUM", core::AccountNumber)
        .Text("LENOM", core::AccountName)
        .Text("LELOG", fields.login)
        .Text("LEPWD", fields.password)
        .Text("LEMAIL", fields.email)
        .Number("LESOFT", core::SoftKey)
        .Text("LEVERSION", core::VersionText)
        .Text("LEOLDPWD", core::Password);
    const std::optional<xml::Document> reply = Load(query.Url());
    if (!reply) return AccountAnswer::Failed;
    if (reply->DocumentElement().Text() == "NO") {
        sys::Log("web: the server refused the account");
        return AccountAnswer::Refused;
    }
    core::Login = fields.login;
    core::Password = fields.password;
    core::Email = fields.email;
    ReadAccount(reply->DocumentElement());
    core::UpdateWeaponPower();
    core::EcritIni();
    AnnounceNewVersion();
    return AccountAnswer::Accepted;
}

bool InfoJoueur() {
    return SendAccount({core::Login, core::Password, core::Email}) == AccountAnswer::Accepted;
}

bool EnvoiMessage(std::string_view text, int32_t type) {
    Query query("nouveaumess.php3");
    query.Number("LESOFT", core::SoftKey)
        .Number("LEJOUEUR", core::AccountNumber)
        .Number("LETYP", type)
        .Text("LEMESS", text)
        .Text("LEPWD", core::Password);
    return Accepted(Load(query.Url()), "the message");
}

bool server_en_cours() {
    Query query("get_server.php3");
    query.Number("LESOFT", core::SoftKey);
    const std::optional<xml::Document> reply = Load(query.Url());
    if (!reply) return false;
    ReadServerList(reply->DocumentElement());
    InfoJoueur();
    return true;
}

bool Get_Map() {
    const std::optional<xml::Document> reply = Load(ServerUrl("/script/get_map.php3"));
    if (!reply) return false;
    ReadMapList(reply->DocumentElement());
    ClearServerLists();
    return true;
}

std::string RecupMessage(int32_t type) {
    if (type == 1 && core::AccountNumber == 1) type = 2;
    Query query("getmess.php3");
    query.Number("LESOFT", core::SoftKey).Number("LETYP", type);
    const std::optional<xml::Document> reply = Load(query.Url());
    if (!reply) return "";
    ClearServerLists();
    return ReadMessages(reply->DocumentElement());
}

// =============================================================================================
// 4. Downloads
// =============================================================================================

namespace {

// Where archives are saved and unpacked: the player's data folder.
std::filesystem::path DownloadDirectory() {
    return core::UserDataDirectory();
}

// Writes `bytes` as `file` of the data folder (created when missing): first beside it, then
// renamed over it, so a failure never leaves a half-written archive under the real name. ""
// or the error.
std::string SaveArchive(const std::string& file, const std::vector<uint8_t>& bytes) {
    std::error_code error;
    std::filesystem::create_directories(DownloadDirectory(), error);
    if (error) return "cannot create " + DownloadDirectory().string() + ": " + error.message();
    const std::filesystem::path target = DownloadDirectory() / file;
    const std::filesystem::path partial = target.string() + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) return "cannot write " + partial.string();
    }
    std::filesystem::rename(partial, target, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return "cannot write " + target.string();
    }
    return "";
}

// A download that did not work: logged and told in a message box.
void TellFailure(const std::string& what, const std::string& error) {
    sys::Log("web: " + what + ": " + error);
    window::MsgBox(what + " failed:" + std::string(kLineBreak) + error, core::ProgramName);
}

// Downloads `address` into the data folder as `file` and unpacks it, with the web
// window showing `label` during the download. A failure is told with `what` in a message box.
bool DownloadAndUnpack(const std::string& address, const std::string& file,
                       const std::string& label, const std::string& what) {
    http::Options options;
    options.totalTimeout = std::chrono::minutes(10);
    options.userAgent = RequestOptions().userAgent;
    const http::Response response = Fetch(address, label, options);
    std::string error = response.ok ? SaveArchive(file, response.body) : response.error;
    if (error.empty() && !pkunzip(file)) error = "the archive " + file + " cannot be unpacked";
    if (error.empty()) return true;
    TellFailure(what, error);
    return false;
}

} // namespace

bool GetAnyFile(std::string_view name) {
    const std::string what = "Download MAP (" + std::string(name) + ")";
    // The name becomes a file name of the installation directory: a plain name only.
    if (name.empty() || name.front() == '.' ||
        name.find_first_of(std::string_view("/\\:\0", 4)) != std::string_view::npos) {
        TellFailure(what, "not a map name");
        return false;
    }
    const std::string file = LowerCase(std::string(name) + ".exe");
    const std::string label =
        what + " In PROGRESS..." + std::string(kLineBreak) + " Please Wait !!";
    return DownloadAndUnpack(ServerUrl("/tarnhold/map/" + http::EncodeQueryValue(file)), file,
                             label, what);
}

bool GetVersion() {
    const std::string what = "Download NEW VERSION";
    if (DownloadUrl.empty()) {
        TellFailure(what, "the server gave no address for it");
        return false;
    }
    const std::string label =
        what + " In PROGRESS..." + std::string(kLineBreak) + " Please Wait !!";
    if (!DownloadAndUnpack(DownloadUrl, "release.exe", label, what)) return false;
    sys::Log("web: the new release is unpacked in " + DownloadDirectory().string());
    window::RequestQuit();
    return true;
}

bool pkunzip(std::string_view file) {
    const std::filesystem::path folder = DownloadDirectory();
    const std::string label =
        "END of DOWNLOAD..." + std::string(kLineBreak) + "UNZIP IN PROGRESS ...";
    const archives::ExtractResult result = WithWebWindow(
        label, [archive = folder / file, folder] { return archives::ExtractZip(archive, folder); });
    if (!result.ok) sys::Log("web: " + result.error);
    return result.ok;
}

// =============================================================================================
// 5. Reply readers
// =============================================================================================

void ReadServerList(const xml::Node& root) {
    ClearServerLists();
    std::string line;
    // The record being filled is the one at index ServerLines.size(); it is created by whatever
    // field comes first, so a reply out of order never writes outside the list.
    auto current = [&]() -> ServerRecord& {
        const size_t index = ServerLines.size();
        if (ServerList.size() <= index) ServerList.resize(index + 1);
        return ServerList[index];
    };
    for (const xml::Node& child : root.Children()) {
        const std::string name = child.Name();
        if (name == "CLE_SERVEUR") {
            current().gameKey = core::ToLong(child.Text());
        } else if (name == "CLE_JOUEUR") {
            current().playerKey = core::ToLong(child.Text());
        } else if (name == "NOM") {
            current().name = child.Text();
            line = "SERVER " + current().name;
        } else if (name == "VERSION") {
            current().version = child.Text();
            line += " On version " + current().version;
        } else if (name == "IP") {
            current().ip = child.Text();
            line.resize(kServerLineWidth, ' ');
            line += current().ip;
        } else if (name == "COMMENT") {
            current().comment = child.Text();
            ServerLines.push_back(line);
        }
    }
    // A last game without its COMMENT is not listed: its partial record goes too.
    ServerList.resize(ServerLines.size());
}

void ReadAccount(const xml::Node& root) {
    for (const xml::Node& child : root.Children()) {
        const std::string name = child.Name();
        if (name == "CLE")
            core::AccountNumber = core::ToLong(child.Text());
        else if (name == "VER")
            ServerVersion = child.Text();
        else if (name == "URL")
            DownloadUrl = child.Text();
        else if (name == "KILLER")
            core::TotalKills = core::ToLong(child.Text());
        else if (name == "KILLED")
            core::TotalDeaths = core::ToLong(child.Text());
        else if (name == "SNIPPER")
            core::TotalSniperKills = core::ToLong(child.Text());
        else if (name == "SNIPPED")
            core::TotalSnipedDeaths = core::ToLong(child.Text());
    }
}

void ReadMapList(const xml::Node& root) {
    MapList.clear();
    for (const xml::Node& child : root.Children())
        if (child.Name() == "MAP") MapList.push_back(UpperCase(child.Text()));
}

std::string ReadMessages(const xml::Node& root) {
    std::string text;
    for (const xml::Node& child : root.Children()) {
        const std::string name = child.Name();
        if (name == "CLE")
            text += "#" + child.Text();
        else if (name == "NOM")
            text += " send by " + child.Text();
        else if (name == "DATE")
            text += " " + child.Text() + std::string(kLineBreak);
        else if (name == "MESSAGE")
            text += child.Text() + std::string(kLineBreak) + std::string(kLineBreak);
    }
    return text;
}

// =============================================================================================
// 6. Connections
// =============================================================================================

void SetWaitView(WaitView* view) {
    gWaitView = view;
}

void SetSessionListView(SessionListView* view) {
    gSessionListView = view;
}

bool GameDirectory::Publish(std::string_view comment) {
    return devenir_server(comment);
}

void GameDirectory::Withdraw() {
    DeleteServer();
}

bool MatchClient::FetchMap(const std::string& mapName) {
    return !net::WebServerName.empty() && GetAnyFile(mapName);
}

void MatchClient::ReportMatch() {
    quitte_server();
}

} // namespace web
