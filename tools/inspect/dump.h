// tools/inspect/dump.h — the commands of tarnhold-inspect. Each command takes its arguments
// (after the command name), prints stable text to `out`, errors to `err`, and returns the exit
// status (0 success, 1 a file the game cannot read, 2 a usage error).
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace inspect {

// model [--weapon|--character] FILE.qc
int ModelCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// map NAME [INSTALLDIR]: the map as a match builds it (INSTALLDIR: the executable's directory)
int MapCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// check FILE.qc | MAPNAME [INSTALLDIR]: every problem the game would meet with a model or a map,
// one "FILE:LINE: text" per line; status 1 when there is any, 0 and "no problems found" else.
int CheckCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// nav NAME [INSTALLDIR] [--png FILE]: the map's navigation graph as bots get it (its size,
// its parts, every spawn point's node and whether it reaches the others); --png draws it from
// above (walls grey, nodes and walks blue to yellow by height, drops orange, ladders red,
// spawn points green).
int NavCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// True when `fileName` reads CLASS_NAME.EXT with NAME in the game's weapon table.
bool LooksLikeWeapon(const std::string& fileName);

} // namespace inspect
