// server/scripts.cpp — request checking, the scripts and their XML replies.
//
// Index
//   1. Query values
//   2. XML replies
//   3. Scripts
#include "server/scripts.h"

#include <httplib.h>

#include <algorithm>
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
constexpr int64_t kCounterMax = 100000; // more than any one match can give

// Well-formed UTF-8 (no overlong forms, no surrogates) without control characters other than
// tab, line feed and carriage return.
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

// The values of one request, each read once and checked; any bad value makes the request bad.
class Values {
public:
    explicit Values(const httplib::Request& req) : req_(req) {}

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
    bool Bad() const { return bad_; }

private:
    std::optional<std::string> Raw(const char* key) {
        if (req_.get_param_value_count(key) != 1) {
            bad_ = true;
            return std::nullopt;
        }
        return req_.get_param_value(key);
    }
    const httplib::Request& req_;
    bool bad_ = false;
};

// =============================================================================================
// 2. XML replies
// =============================================================================================

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
    void Send(httplib::Response& res) {
        xml_ += "</" + root_ + ">\n";
        res.set_content(xml_, "text/xml; charset=UTF-8");
    }

private:
    std::string root_;
    std::string xml_;
};

// A document whose only text is `word` ("OK", "NO" or a key).
void SendWord(httplib::Response& res, const char* root, std::string_view word) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(root) +
                            ">" + EscapeXml(word) + "</" + root + ">\n";
    res.set_content(xml, "text/xml; charset=UTF-8");
}

void SendDone(httplib::Response& res, bool ok) {
    SendWord(res, "REPONSE", ok ? "OK" : "NO");
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

    void SetServer(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t player = v.Number("LEJOUEUR", 0, kAccountMax);
        const std::string version = v.Text("LAVERSION", kVersionMax);
        const std::string comment = v.Text("LECOMMENT", kCommentMax);
        if (v.Bad() || !KnownSoft(soft) || version.empty()) {
            SendWord(res, "SERVEUR", "NO");
            return;
        }
        SendWord(
            res, "SERVEUR",
            std::to_string(store_.PublishGame(soft, player, version, comment, req.remote_addr)));
    }

    void GetServer(const httplib::Request& req, httplib::Response& res) {
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
        reply.Send(res);
    }

    void DeleteServer(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t key = v.Number("CLE_SERVEUR", 1, INT64_MAX);
        SendDone(res, !v.Bad() && store_.RemoveGame(key, req.remote_addr));
    }

    void QuitServer(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t soft = v.Number("CLE_SOFT", 0, kAccountMax);
        const int64_t player = v.Number("CLE_JOUEUR", 0, kAccountMax);
        MatchCounters counters;
        counters.kills = v.Number("KILLER", 0, kCounterMax);
        counters.deaths = v.Number("KILLED", 0, kCounterMax);
        counters.sniperKills = v.Number("SNIPPER", 0, kCounterMax);
        counters.snipedDeaths = v.Number("SNIPPED", 0, kCounterMax);
        const std::string comment = v.Text("COMMENT", kCommentMax);
        if (v.Bad() || !KnownSoft(soft)) {
            SendDone(res, false);
            return;
        }
        SendDone(res, store_.ReportMatch(player, counters, comment));
    }

    void NewPlayer(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t id = v.Number("LENUM", 0, kAccountMax);
        AccountForm form;
        form.name = v.Text("LENOM", kNameMax);
        form.login = v.Text("LELOG", kLoginMax);
        form.password = v.Text("LEPWD", kPasswordMax);
        form.email = v.Text("LEMAIL", kEmailMax);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        v.Text("LEVERSION", kVersionMax);
        if (v.Bad() || !KnownSoft(soft)) {
            SendWord(res, "JOUEUR", "NO");
            return;
        }
        const std::optional<Account> account = id == 0
                                                   ? store_.FindAccount(store_.CreateAccount(form))
                                                   : store_.UpdateAccount(id, form);
        if (!account) {
            SendWord(res, "JOUEUR", "NO");
            return;
        }
        Reply reply("JOUEUR");
        reply.Add("CLE", account->id);
        if (!config_.version.empty()) reply.Add("VER", config_.version).Add("URL", config_.url);
        reply.Add("KILLER", account->kills)
            .Add("KILLED", account->deaths)
            .Add("SNIPPER", account->sniperKills)
            .Add("SNIPPED", account->snipedDeaths)
            .Send(res);
    }

    void NewMessage(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t player = v.Number("LEJOUEUR", 0, kAccountMax);
        const int64_t type = v.Number("LETYP", 0, 1);
        const std::string text = v.Text("LEMESS", kMessageMax);
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        if (v.Bad() || !KnownSoft(soft) || blank) {
            SendDone(res, false);
            return;
        }
        store_.PostMessage(soft, player, type, text);
        SendDone(res, true);
    }

    void GetMessages(const httplib::Request& req, httplib::Response& res) {
        Values v(req);
        const int64_t soft = v.Number("LESOFT", 0, kAccountMax);
        const int64_t type = v.Number("LETYP", 0, 2);
        Reply reply("MESSAGES");
        if (!v.Bad() && KnownSoft(soft)) {
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
        reply.Send(res);
    }

    void GetMaps(const httplib::Request&, httplib::Response& res) {
        std::vector<std::string> names;
        std::error_code error;
        if (!config_.files.empty()) {
            for (const auto& entry :
                 std::filesystem::directory_iterator(config_.files / "map", error)) {
                // The client asks for the lower case of the name it lists: only archives
                // named in lower case can be fetched on a case-sensitive file system.
                const std::string name = entry.path().filename().string();
                const bool lowerCase = std::none_of(name.begin(), name.end(),
                                                    [](char c) { return c >= 'A' && c <= 'Z'; });
                if (entry.is_regular_file(error) && entry.path().extension() == ".exe" && lowerCase)
                    names.push_back(entry.path().stem().string());
            }
        }
        std::sort(names.begin(), names.end());
        Reply reply("MAPS");
        for (const std::string& name : names)
            if (IsCleanText(name)) reply.Add("MAP", name);
        reply.Send(res);
    }

private:
    Store& store_;
    const Config& config_;
};

using Handler = void (Scripts::*)(const httplib::Request&, httplib::Response&);

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

void InstallScripts(httplib::Server& http, Store& store, const Config& config) {
    auto scripts = std::make_shared<Scripts>(store, config);
    const std::pair<const char*, Handler> routes[] = {
        {"/script/set_server.php3", &Scripts::SetServer},
        {"/script/get_server.php3", &Scripts::GetServer},
        {"/script/delete_server.php3", &Scripts::DeleteServer},
        {"/script/quitte_server.php3", &Scripts::QuitServer},
        {"/script/nouveaujoueur.php3", &Scripts::NewPlayer},
        {"/script/nouveaumess.php3", &Scripts::NewMessage},
        {"/script/getmess.php3", &Scripts::GetMessages},
        {"/script/get_map.php3", &Scripts::GetMaps},
    };
    for (const auto& [path, handler] : routes) {
        http.Get(path,
                 [scripts, handler = handler](const httplib::Request& req, httplib::Response& res) {
                     ((*scripts).*handler)(req, res);
                 });
    }
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, "tarnhold-server: %s\n", what.c_str());
            res.status = 500;
            res.set_content("server error\n", "text/plain");
        });
    if (!config.files.empty()) http.set_mount_point("/tarnhold", config.files.string());
}

} // namespace server
