// net/connection.cpp — the session object, connections, session lists, create, join, leave.
#include "net/net.h"
#include "net/net_local.h"

#include "core/game.h"
#include "core/game_state.h"
#include "platform/system/system.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace net {

// =============================================================================================
// 1. State
// =============================================================================================

std::unique_ptr<session::Service> DPlay;
std::vector<session::ProviderInfo> ConnectionList;
std::vector<session::SessionDesc> SessionList;
session::Address ServerAddress;
int32_t HostPlayerId = 0;
bool IsHost = false;
std::string PlayerName;
std::string PlayerFormalName;
std::string SessionName;
std::string WebServerName;
session::ServiceConfig ServiceSettings;
std::string LanTarget;

namespace above {
WaitingRoomView* room = nullptr;
GameDirectory* directory = nullptr;
MatchRunner* runner = nullptr;
} // namespace above

void SetWaitingRoom(WaitingRoomView* room) {
    above::room = room;
}

void SetGameDirectory(GameDirectory* directory) {
    above::directory = directory;
}

void SetMatchRunner(MatchRunner* runner) {
    above::runner = runner;
}

namespace {

void Box(const char* text) {
    window::MsgBox(text, core::ProgramName);
}

session::Guid ApplicationGuid() {
    return *session::Guid::Parse(kApplicationGuid);
}

// A new session object in place of the old one (which leaves its session).
bool NewService() {
    try {
        DPlay.reset();
        DPlay = std::make_unique<session::Service>(ServiceSettings);
        return true;
    } catch (const std::exception& error) {
        sys::Log(std::string("session service: ") + error.what());
        DPlay.reset();
        return false;
    }
}

// Creates the local player: MyPlayerId. Shows the failure's boxes.
bool CreateLocalPlayer() {
    uint32_t id = 0;
    const session::Error e =
        DPlay ? DPlay->CreatePlayer(PlayerName, PlayerFormalName, id) : session::Error::NotOpen;
    if (e != session::Error::Ok) {
        sys::Log(std::string("create player: ") + session::ErrorText(e));
        Box(kTextCreatePlayerFailed);
        if (e == session::Error::InvalidPlayer) Box(kTextInvalidPlayer);
        return false;
    }
    core::MyPlayerId = int32_t(id);
    return true;
}

// The computer players the host brings (core::MatchBots, at most as many as the session has
// seats beside the host): players of this machine in the session ("Bot 1", "Bot 2"...), each on
// the team with fewer players among those in so far (ties: the team other than the host's),
// with a skin of its team. Their ids go into core::SessionBotIds.
void CreateComputerPlayers() {
    core::SessionBotIds.clear();
    const int wanted = std::clamp(core::MatchBots, 0, kMaxPlayers - 1);
    const int32_t hostTeam = core::Team == 0 ? 0 : 1;
    int count[2] = {hostTeam == 0 ? 1 : 0, hostTeam == 0 ? 0 : 1};
    for (int i = 1; i <= wanted && DPlay; ++i) {
        const int32_t team = count[0] != count[1] ? (count[0] < count[1] ? 0 : 1) : 1 - hostTeam;
        const std::string name = "Bot " + std::to_string(i);
        uint32_t id = 0;
        const session::Error e =
            DPlay->CreateStandInPlayer(name, std::to_string(team) + std::to_string(1 + i % 3), id);
        if (e != session::Error::Ok) {
            sys::Log("computer player " + name + ": " + session::ErrorText(e));
            return;
        }
        ++count[team];
        core::SessionBotIds.push_back(int32_t(id));
    }
}

} // namespace

// =============================================================================================
// 3. Connection
// =============================================================================================

bool InitDirectPlay() {
    ConnectionList.clear();
    if (!NewService()) {
        Box(kTextInitFailed);
        return false;
    }
    ConnectionList = session::Service::Providers();
    return true;
}

bool ConnectionNames(std::vector<std::string>& names) {
    names.clear();
    if (!InitDirectPlay() || ConnectionList.empty()) return false;
    for (const session::ProviderInfo& p : ConnectionList)
        names.push_back(p.name);
    return true;
}

bool ConnectLan(int listIndex, std::vector<std::string>& entries) {
    WebServerName.clear();
    ServerAddress = {};
    entries.clear();
    if (!DPlay || listIndex < 0 || listIndex >= int(ConnectionList.size()) ||
        DPlay->Initialize(ConnectionList[size_t(listIndex)].kind, {LanTarget, 0}) !=
            session::Error::Ok) {
        Box(kTextConnectFailed);
        return false;
    }
    if (!UpdateSessionList(entries)) {
        InitDirectPlay();
        return false;
    }
    return true;
}

bool ConnectInternet(const std::string& ip, std::vector<std::string>& entries) {
    entries.clear();
    ServerAddress = {ip, 0};
    SessionList.clear();
    ConnectionList.clear();
    if (!NewService() ||
        DPlay->Initialize(session::ProviderKind::Internet, ServerAddress) != session::Error::Ok)
        return false;
    return UpdateSessionList(entries);
}

bool ConnectionAsksAddress(int listIndex) {
    return listIndex >= 0 && listIndex < int(ConnectionList.size()) &&
           ConnectionList[size_t(listIndex)].kind == session::ProviderKind::Internet;
}

bool ConnectByAddress(int listIndex, std::string_view typed, std::vector<std::string>& entries) {
    WebServerName.clear();
    ServerAddress = {};
    entries.clear();
    // Blank: the local network, as the LAN connection searches it.
    const bool blank = typed.find_first_not_of(' ') == std::string_view::npos;
    std::optional<session::Address> address =
        blank ? session::Address{LanTarget, 0} : ParseHostAddress(typed);
    const session::ProviderKind kind =
        blank ? session::ProviderKind::Lan : session::ProviderKind::Internet;
    if (!address) sys::Log("not a host address: " + std::string(typed));
    if (!DPlay || !address || !ConnectionAsksAddress(listIndex) ||
        DPlay->Initialize(kind, *address) != session::Error::Ok) {
        Box(kTextConnectFailed);
        return false;
    }
    if (!blank) ServerAddress = *address;
    if (!UpdateSessionList(entries)) {
        Box(kTextConnectFailed); // the name did not resolve, or no socket
        return false;
    }
    return true;
}

std::optional<session::Address> ParseHostAddress(std::string_view typed) {
    const size_t first = typed.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    typed = typed.substr(first, typed.find_last_not_of(' ') - first + 1);
    session::Address address;
    // ":port", 1..65535.
    std::string_view host = typed;
    if (const size_t colon = typed.rfind(':'); colon != std::string_view::npos) {
        host = typed.substr(0, colon);
        const std::string_view digits = typed.substr(colon + 1);
        unsigned port = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            port == 0 || port > 65535)
            return std::nullopt;
        address.port = uint16_t(port);
    }
    // A name: dot-separated labels of letters, digits and inner hyphens, 1..63 characters
    // each, 253 in all. Digits and dots only: a dotted IPv4 address, four numbers 0..255.
    if (host.empty() || host.size() > 253) return std::nullopt;
    const bool numeric = host.find_first_not_of("0123456789.") == std::string_view::npos;
    int labels = 0;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return std::nullopt;
        for (const char c : label)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return std::nullopt;
        if (numeric) {
            unsigned value = 0;
            const auto [end, error] =
                std::from_chars(label.data(), label.data() + label.size(), value);
            if (error != std::errc() || label.size() > 3 || value > 255) return std::nullopt;
        }
        ++labels;
        start = dot + 1;
    }
    if (numeric && labels != 4) return std::nullopt;
    address.host = std::string(host);
    return address;
}

std::string SessionEntry(const session::SessionDesc& desc) {
    return desc.name + " (" + std::to_string(desc.currentPlayers) + "/" +
           std::to_string(desc.maxPlayers) + ")";
}

bool UpdateSessionList(std::vector<std::string>& entries) {
    entries.clear();
    if (!DPlay) return false;
    window::SetPointer(window::Pointer::Hourglass);
    session::SessionDesc filter;
    filter.application = ApplicationGuid();
    std::vector<session::SessionDesc> found;
    const session::Error e = DPlay->EnumSessions(filter, 0, session::kEnumAvailable, found);
    window::SetPointer(window::Pointer::Normal);
    if (e != session::Error::Ok) {
        sys::Log(std::string("session enumeration: ") + session::ErrorText(e));
        return false;
    }
    SessionList = std::move(found);
    for (const session::SessionDesc& d : SessionList)
        entries.push_back(SessionEntry(d));
    return true;
}

bool CreateGame(std::string_view comment) {
    const bool internet = !WebServerName.empty();
    // 1. An internet game is published first, then hosted on a fresh session object.
    if (internet) {
        if (DPlay) DPlay->Close();
        DPlay.reset();
        if (!above::Publish(comment)) return false;
        if (!NewService() ||
            DPlay->Initialize(session::ProviderKind::Lan, {LanTarget, 0}) != session::Error::Ok) {
            Box(kTextCreateGameFailed);
            return false;
        }
    }
    // 2. The session. In LAN mode a session that failed to open makes the player creation fail.
    session::SessionDesc desc;
    desc.application = ApplicationGuid();
    desc.maxPlayers = kMaxPlayers;
    desc.name = SessionName;
    desc.flags = session::kSessionMigrateHost;
    const session::Error e =
        DPlay ? DPlay->Open(desc, session::OpenMode::Create) : session::Error::NotInitialized;
    if (e != session::Error::Ok) {
        sys::Log(std::string("create game: ") + session::ErrorText(e));
        if (internet) {
            Box(kTextCreateGameFailed);
            return false;
        }
    }
    // 3. The local player, who is the host, and the computer players it brings.
    if (!CreateLocalPlayer()) return false;
    HostPlayerId = core::MyPlayerId;
    IsHost = true;
    CreateComputerPlayers();
    return true;
}

bool JoinGame(int listIndex) {
    if (!DPlay || listIndex < 0 || listIndex >= int(SessionList.size()) ||
        DPlay->Open(SessionList[size_t(listIndex)], session::OpenMode::Join) !=
            session::Error::Ok) {
        Box(kTextJoinFailed);
        return false;
    }
    // What this machine's START carries if the host role comes to it before the match.
    SessionName = SessionList[size_t(listIndex)].name;
    core::MapName = MapOfSessionName(SessionName);
    if (CreateLocalPlayer()) return true;
    // Without its player this machine is no part of the game: it leaves, so that another join
    // starts afresh instead of finding the session still open.
    DPlay->Close();
    return false;
}

std::string MapOfSessionName(std::string_view sessionName) {
    if (sessionName.empty() || sessionName.back() != ')') return {};
    // The "(" that the last ")" closes, so a map entry may hold parentheses of its own.
    size_t open = sessionName.size() - 1;
    for (int depth = 0;; --open) {
        if (sessionName[open] == ')') ++depth;
        if (sessionName[open] == '(' && --depth == 0) break;
        if (open == 0) return {};
    }
    if (open == 0 || sessionName[open - 1] != ' ') return {};
    std::string map(sessionName.substr(open + 1, sessionName.size() - open - 2));
    for (char& c : map)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return map;
}

std::vector<SessionPlayer> EnumPlayers() {
    std::vector<SessionPlayer> players;
    if (!DPlay) return players;
    const int n = DPlay->PlayerCount();
    for (int i = 1; i <= n; ++i) {
        SessionPlayer p;
        p.id = int32_t(DPlay->PlayerIdByIndex(i));
        if (p.id == 0) continue; // the roster changed meanwhile
        DPlay->GetFriendlyName(uint32_t(p.id), p.friendlyName);
        DPlay->GetFormalName(uint32_t(p.id), p.formalName);
        players.push_back(std::move(p));
    }
    return players;
}

void LeaveSession() {
    if (DPlay) {
        DPlay->DestroyPlayer(uint32_t(core::MyPlayerId));
        DPlay->Close();
    }
    CloseDirectPlay();
}

void CloseDirectPlay() {
    if (!WebServerName.empty() && HostPlayerId == core::MyPlayerId) above::Withdraw();
    IsHost = false;
    core::InGame = false;
    core::SessionBotIds.clear();
    ConnectionList.clear();
    SessionList.clear();
    DPlay.reset();
}

} // namespace net
