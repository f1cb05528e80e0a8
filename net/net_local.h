// net/net_local.h — the layers above as this module's files reach them. The pointers are set
// by SetWaitingRoom, SetGameDirectory and SetMatchRunner (null until then, never owned); every
// call goes through the helpers, which do what section 2 of net.h says for a null one.
#pragma once

#include "net/net.h"

namespace net::above {

extern WaitingRoomView* room;
extern GameDirectory* directory;
extern MatchRunner* runner;

inline bool RoomShown() {
    return room != nullptr && room->IsShown();
}
inline void RefreshRoom() {
    if (room != nullptr) room->RefreshPlayers();
}
inline void AppendRoomChat(std::string_view text) {
    if (room != nullptr) room->AppendChat(text);
}
inline void StopRoomTimer() {
    if (room != nullptr) room->StopTimer();
}
inline void HideRoom() {
    if (room != nullptr) room->Hide();
}
inline bool Publish(std::string_view comment) {
    return directory != nullptr && directory->Publish(comment);
}
inline void Withdraw() {
    if (directory != nullptr) directory->Withdraw();
}
// Runs the match and keeps its status in MatchStatus (0 without a runner).
inline int RunMatch() {
    MatchStatus = runner != nullptr ? runner->RunMatch() : 0;
    return *MatchStatus;
}
// The world late joiners are built in; null without a runner.
inline const player::World* LateJoinWorld() {
    return runner != nullptr ? runner->MatchWorld() : nullptr;
}

} // namespace net::above
