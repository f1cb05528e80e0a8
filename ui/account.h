// ui/account.h — "SYSTEM BOARD": the player's account on the web server, its statistics, the
// release check and download, and the message board.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace ui {

inline constexpr const char* kAccountScreen = "account";

// Opens the window modally at the next pass of the event pump and returns at once, so a
// screen may call it from its Draw(); the screens under it are disabled until it closes. The
// main menu sets net::WebServerName and core::AccountName first.
void OpenAccount();

// The five statistics lines from the totals and the weapon rank: "KILLER: n", "KILLED: n",
// "SNIPPER: n", "SNIPPED: n", "WEAPON RANK: n".
std::array<std::string, 5> StatisticsLines();
// "VERSION on SERVER:" directly followed by the server's version, or "?.?.?" when it has
// reported none.
std::string ServerVersionLabel(std::string_view serverVersion);
// The message box telling where a newer release is: "New version <v> at the url:", a line
// break, the address.
std::string NewVersionText(std::string_view serverVersion, std::string_view url);

} // namespace ui
