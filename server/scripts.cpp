// server/scripts.cpp — request checking, the scripts and their XML replies, and the routes.
//
// Index
//   1. Query values
//   2. XML replies
//   3. Scripts
//   4. Routes
#include "server/scripts.h"

#include "server/files.h"
#include "server/site.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace server {

namespace {

// =============================================================================================
// 1. Query values
// =============================================================================================

constexpr size_t kNameMax = 64;
constexpr size_t kLoginMax = 64;
constexpr size_t kPasswordMax = 128;
constexpr size_t kEmailMax = 128;
constexpr size_t kVersionMax = 32;
constexpr size_t kCommentMax = 500;
constexpr size_t kMessageMax = 2000;
constexpr int64_t kAccountMax = 2147483647;

// The bytes of base64 `text` (standard alphabet, padding optional); nothing when malformed.
std::optional<std::string> DecodeBase64(std::string_view text) {
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        if (c >= '0' && c <= '9') value = c - '0' + 52;
        if (c == '+') value = 62;
        if (c == '/') value = 63;
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | uint32_t(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xff);
        }
    }
    if (count >= 6) return std::nullopt; // a lone sixth of a byte
    return out;
}

} // namespace

bool IsCleanText(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) return false;
            ++i;
            continue;
        }
        int extra = 0;
        uint32_t code = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            code = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            code = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + size_t(extra) >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + size_t(k)]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10ffff)))
            return false;
        i += size_t(extra) + 1;
    }
    return true;
}

bool HoldsOperatorKey(const Request& req, const Config& config) {
    const std::string& key = config.operatorKey;
    if (key.empty()) return false;
    // "Basic " (the scheme in any case) and base64 of "user:password".
    std::string_view header = req.authorization;
    constexpr std::string_view kScheme = "basic ";
    if (header.size() <= kScheme.size()) return false;
    for (size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != kScheme[i]) return false;
    header.remove_prefix(kScheme.size());
    while (!header.empty() && header.front() == ' ')
        header.remove_prefix(1);
    const std::optional<std::string> credentials = DecodeBase64(header);
    if (!credentials) return false;
    const size_t colon = credentials->find(':');
    if (colon == std::string::npos) return false;
    const std::string_view given = std::string_view(*credentials).substr(colon + 1);
    return given.size() == key.size() && CRYPTO_memcmp(given.data(), key.data(), key.size()) == 0;
}

namespace {

// The values of one request, each read once and checked; any bad value makes the request bad.
class Values {
public:
    explicit Values(const Request& req) : req_(req) { bad_ = !req.queryOk; }

    // A present, plain decimal number in [low, high].
    int64_t Number(const char* key, int64_t low, int64_t high) {
        const std::optional<std::string> text = Raw(key);
        if (!text) return low;
        int64_t value = 0;
        const char* end = text->data() + text->size();
        const auto [ptr, ec] = std::from_chars(text->data(), end, value);
        if (text->empty() || ec != std::errc() || ptr != end || value < low || value > high) {
            bad_ = true;
            return low;
        }
        return value;
    }
    // A present text of at most `max` bytes (empty allowed).
    std::string Text(const char* key, size_t max) {
        std::optional<std::string> text = Raw(key);
        if (!text) return {};
        if (text->size() > max || !IsCleanText(*text)) {
            bad_ = true;
            return {};
        }
        return std::move(*text);
    }
    // A number in [low, high] when the key is present once, nothing when it is absent.
    std::optional<int64_t> OptionalNumber(const char* key, int64_t low, int64_t high) {
        if (req_.Count(key) == 0) return std::nullopt;
        return Number(key, low, high);
    }
    // A text of at most `max` bytes when the key is present once, nothing when it is absent.
    std::optional<std::string> OptionalText(const char* key, size_t max) {
        if (req_.Count(key) == 0) return std::nullopt;
        return Text(key, max);
    }
    bool Bad() const { return bad_; }

private:
    std::optional<std::string> Raw(const char* key) {
        if (req_.Count(key) != 1) {
            bad_ = true;
            return std::nullopt;
        }
        return req_.Value(key);
    }
    const Request& req_;
    bool bad_ = false;
};

// =============================================================================================
// 2. XML replies
// =============================================================================================

Response XmlResponse(std::string xml) {
    Response res;
    res.contentType = "text/xml; charset=UTF-8";
    res.body = std::move(xml);
    res.headers.emplace_back("Cache-Control", "no-store");
    return res;
}

class Reply {
public:
    explicit Reply(std::string root) : root_(std::move(root)) {
        xml_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root_ + ">";
    }
    Reply& Add(std::string_view name, std::string_view text) {
        xml_ += "<" + std::string(name) + ">" + EscapeXml(text) + "</" + std::string(name) + ">";
        return *this;
    }
    Reply& Add(std::string_view name, int64_t value) { return Add(name, std::to_string(value)); }
    Response Send() {
        xml_ += "</" + root_ + ">\n";
        return XmlResponse(std::move(xml_));
    }

private:
    std::string root_;
    std::string xml_;
};

// A document whose only text is `word` ("OK", "NO" or a key).
Response SendWord(const char* root, std::string_view word) {
    return XmlResponse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(root) + ">" +
                       EscapeXml(word) + "</" + root + ">\n");
}

Response SendDone(bool ok) {
    return SendWord("REPONSE", ok ? "OK" : "NO");
}

// =============================================================================================
// 3. Scripts
// =============================================================================================

class Scripts {
public:
    Scripts(Store& store, const Config& config) : store_(store), config_(config) {}

    bool KnownSoft(int64_t soft) const {
        return std::find(config_.softKeys.begin(), config_.softKeys.end(), soft) !=
               config_.softKeys.end();
    }

    Response SetServer(const Request& req) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t player = v.Number("LEJOUEUR", 0, kAccountMax);
        const std::string version = v.Text("LAVERSION", kVersionMax);
        const std::string comment = v.Text("LECOMMENT", kCommentMax);
        const std::optional<std::string> password = v.OptionalText("LEPWD", kPasswordMax);
        if (v.Bad() || !KnownSoft(soft) || version.empty()) {
            return SendWord("SERVEUR", "NO");
        }
        // The game is the account's only when the request proves it; else it is a guest's.
        const int64_t owner = Proven(player, password) ? player : 0;
        return SendWord("SERVEUR", std::to_string(store_.PublishGame(soft, owner, version, comment,
                                                                     req.client)));
    }

    Response GetServer(const Request& req) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        Reply reply("SERVEURS");
        if (!v.Bad() && KnownSoft(soft)) {
            for (const Game& g : store_.ListGames(soft, config_.gameLifetimeSeconds)) {
                reply.Add("CLE_SERVEUR", g.key)
                    .Add("CLE_JOUEUR", g.player)
                    .Add("NOM", g.name)
                    .Add("VERSION", g.version)
                    .Add("IP", g.ip)
                    .Add("COMMENT", g.comment);
            }
        }
        return reply.Send();
    }

    Response DeleteServer(const Request& req) {
        Values v(req);
        const int64_t key = v.Number("CLE_SERVEUR", 1, INT64_MAX);
        const std::optional<int64_t> player = v.OptionalNumber("CLE_JOUEUR", 0, kAccountMax);
        const std::optional<std::string> password = v.OptionalText("LEPWD", kPasswordMax);
        if (v.Bad()) return SendDone(false);
        const int64_t proven = player && Proven(*player, password) ? *player : 0;
        return SendDone(store_.RemoveGame(key, req.client, proven));
    }

    Response QuitServer(const Request& req) {
        Values v(req);
        const int64_t soft = v.Number("CLE_SOFT", 0, kAccountMax);
        const int64_t player = v.Number("CLE_JOUEUR", 0, kAccountMax);
        MatchCounters counters;
        counters.kills = v.Number("KILLER", 0, kReportCounterMax);
        counters.deaths = v.Number("KILLED", 0, kReportCounterMax);
        counters.sniperKills = v.Number("SNIPPER", 0, kReportCounterMax);
        counters.snipedDeaths = v.Number("SNIPPED", 0, kReportCounterMax);
        const std::string comment = v.Text("COMMENT", kCommentMax);
        const std::optional<std::string> password = v.OptionalText("LEPWD", kPasswordMax);
        // Every head-shot death is a death.
        if (v.Bad() || !KnownSoft(soft) || counters.snipedDeaths > counters.deaths ||
            !Proven(player, password)) {
            return SendDone(false);
        }
        return SendDone(store_.ReportMatch(player, counters, comment) == ReportOutcome::Added);
    }

    Response NewPlayer(const Request& req) {
        Values v(req);
        const int64_t id = v.Number("LENUM", 0, kAccountMax);
        AccountForm form;
        form.name = v.Text("LENOM", kNameMax);
        form.login = v.Text("LELOG", kLoginMax);
        form.password = v.Text("LEPWD", kPasswordMax);
        form.email = v.Text("LEMAIL", kEmailMax);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        v.Text("LEVERSION", kVersionMax);
        const std::optional<std::string> previous = v.OptionalText("LEOLDPWD", kPasswordMax);
        if (v.Bad() || !KnownSoft(soft)) {
            return SendWord("JOUEUR", "NO");
        }
        // Number 0 registers the login: NO when it is another account's.
        const std::optional<Account> account =
            id == 0 ? store_.RegisterAccount(form).account : UpdateAccount(id, form, previous);
        if (!account) {
            return SendWord("JOUEUR", "NO");
        }
        Reply reply("JOUEUR");
        reply.Add("CLE", account->id);
        if (!config_.version.empty()) reply.Add("VER", config_.version).Add("URL", config_.url);
        return reply.Add("KILLER", account->kills)
            .Add("KILLED", account->deaths)
            .Add("SNIPPER", account->sniperKills)
            .Add("SNIPPED", account->snipedDeaths)
            .Send();
    }

    // The account `id` when the form's login and password are its own. When the password is
    // not but `previous` (LEOLDPWD) is, the player changed it: the account takes the form's
    // password. Nothing, and nothing changed, otherwise.
    std::optional<Account> UpdateAccount(int64_t id, const AccountForm& form,
                                         const std::optional<std::string>& previous) {
        if (std::optional<Account> account = store_.UpdateAccount(id, form)) return account;
        // A password is never taken away: an account without one is open to anybody.
        if (!previous || *previous == form.password || form.password.empty()) return std::nullopt;
        AccountForm known = form;
        known.password = *previous;
        if (!store_.UpdateAccount(id, known) ||
            !store_.ChangePassword(id, *previous, form.password))
            return std::nullopt;
        return store_.FindAccount(id);
    }

    Response NewMessage(const Request& req) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t player = v.Number("LEJOUEUR", 0, kAccountMax);
        const int64_t type = v.Number("LETYP", 0, 1);
        const std::string text = v.Text("LEMESS", kMessageMax);
        const std::optional<std::string> password = v.OptionalText("LEPWD", kPasswordMax);
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        // Account 0 posts as GUEST; any other account proves itself.
        if (v.Bad() || !KnownSoft(soft) || blank || (player != 0 && !Proven(player, password))) {
            return SendDone(false);
        }
        store_.PostMessage(soft, player, type, text);
        return SendDone(true);
    }

    Response GetMessages(const Request& req) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t type = v.Number("LETYP", 0, 2);
        Reply reply("MESSAGES");
        // The publisher's inbox is the operator's only.
        if (!v.Bad() && KnownSoft(soft) && (type != 2 || HoldsOperatorKey(req, config_))) {
            const std::optional<int64_t> from =
                type == 1 ? std::optional<int64_t>(config_.publisherAccount) : std::nullopt;
            for (const Message& m :
                 store_.Messages(soft, type == 0 ? 0 : 1, from, config_.messageLimit)) {
                reply.Add("CLE", m.id)
                    .Add("NOM", m.name)
                    .Add("DATE", m.date)
                    .Add("MESSAGE", m.text);
            }
        }
        return reply.Send();
    }

    Response GetMaps(const Request&) {
        Reply reply("MAPS");
        for (const std::string& name : MapArchives(config_.files))
            reply.Add("MAP", name);
        return reply.Send();
    }

private:
    // True when `password` (LEPWD) is the password of account `player`.
    bool Proven(int64_t player, const std::optional<std::string>& password) {
        return player != 0 && password && store_.ProveAccount(player, *password);
    }

    Store& store_;
    const Config& config_;
};

using Handler = Response (Scripts::*)(const Request&);

} // namespace

std::string EscapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\r':
            out += "&#13;";
            break; // kept through the reader's line-end normalisation
        default:
            out += c;
        }
    }
    return out;
}

// =============================================================================================
// 4. Routes
// =============================================================================================

Routes MakeRoutes(Store& store, const Config& config) {
    auto scripts = std::make_shared<Scripts>(store, config);
    static const std::pair<std::string_view, Handler> kScripts[] = {
        {"/script/set_server.php3", &Scripts::SetServer},
        {"/script/get_server.php3", &Scripts::GetServer},
        {"/script/delete_server.php3", &Scripts::DeleteServer},
        {"/script/quitte_server.php3", &Scripts::QuitServer},
        {"/script/nouveaujoueur.php3", &Scripts::NewPlayer},
        {"/script/nouveaumess.php3", &Scripts::NewMessage},
        {"/script/getmess.php3", &Scripts::GetMessages},
        {"/script/get_map.php3", &Scripts::GetMaps},
    };
    Routes routes;
    // Requests that check a password hash it: their own pool keeps them from delaying the rest.
    routes.laneOf = [](const Request& req) {
        return req.path == "/script/nouveaujoueur.php3" || req.Count("LEPWD") > 0 ? Lane::Slow
                                                                                  : Lane::Fast;
    };
    routes.handle = [scripts, &store, &config](const Request& req) -> Response {
        for (const auto& [path, handler] : kScripts)
            if (req.path == path) return ((*scripts).*handler)(req);
        constexpr std::string_view kFiles = "/tarnhold/";
        if (req.path.rfind(kFiles, 0) == 0 && !config.files.empty())
            return ServeFile(config.files, std::string_view(req.path).substr(kFiles.size()));
        if (req.path == "/" || req.path == "/index.html") return HomePage(store, config);
        if (req.path == "/site.css") return StyleSheet();
        if (req.path == "/operator") return OperatorPage(store, config, req);
        return Response::Text(404, "Not found.\n");
    };
    return routes;
}

} // namespace server
