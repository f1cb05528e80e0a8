// core/game_state.cpp — storage of the module-level game state.
#include "core/game_state.h"

namespace core {

int32_t LocalIndex = -1;
std::string ProgramName;
int32_t SoftKey = 1;
std::string VersionText;
std::string DecimalSeparator = ".";

std::string MakeVersionText(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

} // namespace core
