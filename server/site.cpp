// server/site.cpp — the home page and its style sheet.
#include "server/site.h"

#include "server/files.h"

#include <algorithm>

namespace server {

namespace {

// `text` %-encoded for a URL path segment.
std::string EncodePathSegment(std::string_view text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

std::string Age(int64_t published, int64_t now) {
    const int64_t minutes = std::max<int64_t>(0, now - published) / 60;
    if (minutes < 1) return "just now";
    if (minutes < 60) return std::to_string(minutes) + " min";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

void GamesSection(std::string& html, Store& store, const Config& config) {
    html += "<section id=\"games\"><h2>Games running now</h2>\n";
    const std::vector<Game> games =
        config.softKeys.empty()
            ? std::vector<Game>()
            : store.ListGames(config.softKeys.front(), config.gameLifetimeSeconds);
    if (games.empty()) {
        html += "<p class=\"empty\">No game is running right now.</p>\n</section>\n";
        return;
    }
    const int64_t now = Now();
    html += "<div class=\"scroll\"><table><thead><tr><th>Host</th><th>Version</th>"
            "<th>Comment</th><th>Listed</th></tr></thead><tbody>\n";
    for (const Game& g : games) {
        html += "<tr><td>" + EscapeHtml(g.name) + "</td><td>" + EscapeHtml(g.version) +
                "</td><td>" + EscapeHtml(g.comment) + "</td><td>" + Age(g.published, now) +
                "</td></tr>\n";
    }
    html += "</tbody></table></div>\n</section>\n";
}

void RankingSection(std::string& html, Store& store, const Config& config) {
    html += "<section id=\"ranking\"><h2>Ranking</h2>\n";
    const std::vector<Account> accounts = store.Ranking(config.rankingLimit);
    if (accounts.empty()) {
        html += "<p class=\"empty\">Nobody has reported a match yet.</p>\n</section>\n";
        return;
    }
    html += "<div class=\"scroll\"><table><thead><tr><th>#</th><th>Player</th><th>Kills</th>"
            "<th>Deaths</th><th>Sniper kills</th><th>Rank</th></tr></thead><tbody>\n";
    int position = 0;
    for (const Account& a : accounts) {
        html += "<tr><td>" + std::to_string(++position) + "</td><td>" +
                EscapeHtml(a.name.empty() ? "GUEST" : a.name) + "</td><td>" +
                std::to_string(a.kills) + "</td><td>" + std::to_string(a.deaths) + "</td><td>" +
                std::to_string(a.sniperKills) + "</td><td>" + std::to_string(WeaponRank(a)) +
                "</td></tr>\n";
    }
    html += "</tbody></table></div>\n</section>\n";
}

// `messages` (newest first) as the list of section `id`, or `none` when there are none.
void MessagesSection(std::string& html, const std::vector<Message>& messages, const char* id,
                     const char* title, const char* none) {
    html += std::string("<section id=\"") + id + "\"><h2>" + title + "</h2>\n";
    if (messages.empty()) {
        html += std::string("<p class=\"empty\">") + none + "</p>\n</section>\n";
        return;
    }
    html += "<ol class=\"board\">\n";
    for (const Message& m : messages) {
        html += "<li><p class=\"meta\"><b>" + EscapeHtml(m.name) + "</b> <span>" +
                EscapeHtml(m.date) + " UTC</span></p><p class=\"text\">" + EscapeHtml(m.text) +
                "</p></li>\n";
    }
    html += "</ol>\n</section>\n";
}

// The messages of `type` (every sender), newest first.
std::vector<Message> BoardMessages(Store& store, const Config& config, int64_t type) {
    if (config.softKeys.empty()) return {};
    return store.Messages(config.softKeys.front(), type, std::nullopt, config.messageLimit);
}

// The start of a page titled `title`, up to its open <header>.
std::string PageStart(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           EscapeHtml(title) +
           "</title><link rel=\"stylesheet\" href=\"/site.css\"></head>\n<body>\n<header>";
}

// A finished page as a reply: no script, no framing, never cached.
Response HtmlResponse(std::string html, int status = 200) {
    html += "<footer>Page made " + DateText(Now()) + " UTC.</footer>\n</body></html>\n";
    Response res;
    res.status = status;
    res.contentType = "text/html; charset=UTF-8";
    res.body = std::move(html);
    res.headers = {
        {"Content-Security-Policy", "default-src 'none'; style-src 'self'; img-src 'self';"
                                    " base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"Cache-Control", "no-store"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
    };
    return res;
}

void MapsSection(std::string& html, const Config& config) {
    html += "<section id=\"maps\"><h2>Maps to download</h2>\n";
    const std::vector<std::string> maps = MapArchives(config.files);
    if (maps.empty()) {
        html += "<p class=\"empty\">No map is offered yet.</p>\n</section>\n";
        return;
    }
    html += "<ul class=\"maps\">\n";
    for (const std::string& name : maps) {
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
        html += "<li><a href=\"/tarnhold/map/" + EscapeHtml(EncodePathSegment(name + ".exe")) +
                "\">" + EscapeHtml(upper) + "</a></li>\n";
    }
    html += "</ul>\n</section>\n";
}

} // namespace

int WeaponRank(const Account& a) {
    const int64_t score = (a.kills - a.deaths) + 5 * (a.sniperKills - a.snipedDeaths);
    return score < 5 ? 1 : score < 10 ? 2 : score < 15 ? 3 : 4;
}

std::string EscapeHtml(std::string_view text) {
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
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

Response HomePage(Store& store, const Config& config) {
    std::string html = PageStart("Tarnhold") +
                       "<h1>Tarnhold</h1><nav><a href=\"#games\">Games</a> <a href=\"#ranking\">"
                       "Ranking</a> <a href=\"#board\">Board</a> <a href=\"#maps\">Maps</a></nav>";
    const bool webUrl = config.url.rfind("http://", 0) == 0 || config.url.rfind("https://", 0) == 0;
    if (!config.version.empty()) {
        html += "<p class=\"release\">Latest release: ";
        html += webUrl ? "<a href=\"" + EscapeHtml(config.url) + "\">" +
                             EscapeHtml(config.version) + "</a>"
                       : EscapeHtml(config.version);
        html += "</p>";
    }
    html += "</header>\n<main>\n";
    GamesSection(html, store, config);
    RankingSection(html, store, config);
    MessagesSection(html, BoardMessages(store, config, 0), "board", "Message board",
                    "No message yet.");
    MapsSection(html, config);
    html += "</main>\n";
    return HtmlResponse(std::move(html));
}

Response OperatorPage(Store& store, const Config& config, const Request& req) {
    if (config.operatorKey.empty())
        return Response::Text(403, "This server has no operator key (--operator-key-file).\n");
    if (!HoldsOperatorKey(req, config)) {
        Response res = Response::Text(401, "The operator key is needed: give it as the password"
                                           " (any user name).\n");
        res.headers = {{"WWW-Authenticate", "Basic realm=\"Tarnhold operator\", charset=\"UTF-8\""},
                       {"Cache-Control", "no-store"}};
        return res;
    }
    std::string html = PageStart("Tarnhold - operator") +
                       "<h1>Tarnhold</h1><p class=\"release\">Operator: messages sent to the"
                       " publisher</p></header>\n<main>\n";
    MessagesSection(html, BoardMessages(store, config, 1), "private", "Private messages",
                    "No private message yet.");
    MessagesSection(html, store.ReportComments(config.messageLimit), "comments",
                    "Comments sent with match reports", "No comment yet.");
    html += "</main>\n";
    return HtmlResponse(std::move(html));
}

Response StyleSheet() {
    Response res;
    res.contentType = "text/css; charset=UTF-8";
    res.headers = {{"Cache-Control", "max-age=3600"}};
    res.body = R"css(:root { color-scheme: dark; --ink: #e8e4d8; --dim: #9a968a; --line: #3a3832;
  --panel: #1f1e1b; --accent: #d9a441; }
* { box-sizing: border-box; }
body { margin: 0; background: #151412; color: var(--ink);
  font: 16px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
header, main, footer { max-width: 960px; margin: 0 auto; padding: 0 16px; }
header { padding-top: 20px; }
h1 { margin: 0; font-size: 2rem; letter-spacing: .18em; text-transform: uppercase;
  color: var(--accent); }
nav { display: flex; flex-wrap: wrap; gap: 6px 18px; margin: 8px 0; }
nav a, a { color: var(--accent); }
.release { color: var(--dim); margin: 4px 0 0; }
section { background: var(--panel); border: 1px solid var(--line); border-radius: 8px;
  padding: 4px 16px 12px; margin: 18px 0; }
h2 { font-size: 1.15rem; margin: 12px 0 8px; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 6px 10px 6px 0; border-bottom: 1px solid var(--line);
  vertical-align: top; overflow-wrap: anywhere; }
th { color: var(--dim); font-weight: 600; white-space: nowrap; }
td:first-child { white-space: nowrap; }
.empty { color: var(--dim); }
.board { list-style: none; margin: 0; padding: 0; }
.board li { border-bottom: 1px solid var(--line); padding: 6px 0; }
.board p { margin: 2px 0; }
.meta span { color: var(--dim); font-size: .9rem; margin-left: 6px; }
.text { white-space: pre-wrap; overflow-wrap: anywhere; }
.maps { display: flex; flex-wrap: wrap; gap: 8px 20px; list-style: none; margin: 4px 0;
  padding: 0; }
footer { color: var(--dim); font-size: .85rem; padding-bottom: 24px; }
@media (max-width: 520px) {
  body { font-size: 15px; }
  h1 { font-size: 1.5rem; }
  section { padding: 2px 10px 10px; }
  th, td { padding-right: 6px; }
}
)css";
    return res;
}

} // namespace server
