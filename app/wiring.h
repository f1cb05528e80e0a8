// app/wiring.h — where the modules meet: every interface a lower module declares for the layers
// above it is connected here, and nowhere else.
#pragma once

namespace app {

// Connects what every run uses, before anything else runs: the web client behind the session
// code and the match (publishing and withdrawing an internet game, the download of a missing
// map, the match report; in LAN mode they do nothing) and the web window the web client shows.
void ConnectModules();

} // namespace app
