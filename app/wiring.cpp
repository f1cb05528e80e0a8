// app/wiring.cpp — the one place where the modules' interfaces are connected to their
// implementations. The objects connected here live for the whole process.
#include "app/wiring.h"

#include "core/game.h"
#include "net/net.h"
#include "ui/web_window.h"
#include "web/web.h"

namespace app {

namespace {
ui::WebWindowView webWindow;
} // namespace

void ConnectModules() {
    net::PublishGame = web::devenir_server;
    net::DeleteServer = [] { web::DeleteServer(); };
    core::FetchMapHook = [](const std::string& mapName) {
        return !net::WebServerName.empty() && web::GetAnyFile(mapName);
    };
    core::QuitServerHook = web::quitte_server;
    web::SetWaitView(&webWindow);
}

} // namespace app
