// core/game_state.h — the game's module-level state, shared by every subsystem.
//
// Index
//   1. Start-up identity (set once by the entry point, never reset)
//
// Everything here lives on the user-interface thread. Each block states what sets and what
// resets its variables.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// ---------------------------------------------------------------------------------------------
// 1. Start-up identity
// ---------------------------------------------------------------------------------------------
// Set by the entry point before the splash, in this order, and never changed afterwards;
// `DecimalSeparator` is read by the splash. Nothing resets them: they last the whole process.

// Slot of the local player in `Players`, 0..4; -1 outside a match (the match start sets it).
extern int32_t LocalIndex;

// The program name shown in window captions ("Tarnhold").
extern std::string ProgramName;

// The value the web client sends for the query keys LESOFT and CLE_SOFT; always 1.
extern int32_t SoftKey;

// "major.minor.revision" of this build, decimal numbers (for example "1.0.12").
extern std::string VersionText;

// The decimal separator of the user's locale for numbers ("." or ","); the number readers of
// the model and map files put it in place of the first ".". "." until the splash reads it.
extern std::string DecimalSeparator;

// "major.minor.revision" from the three version numbers.
std::string MakeVersionText(int major, int minor, int revision);

} // namespace core
