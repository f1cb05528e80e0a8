// platform/registry/registry.h — the per-machine settings store.
//
// Index
//   1. Settings directory: where this machine's settings, lock and log live.
//
// The settings directory stands for "this machine": two processes with two settings
// directories behave as two machines. Nothing here knows about the game.
#pragma once

#include <filesystem>

namespace registry {

// ---------------------------------------------------------------------------------------------
// 1. Settings directory
// ---------------------------------------------------------------------------------------------

// The settings directory: $TARNHOLD_HOME, else $XDG_CONFIG_HOME/tarnhold, else
// ~/.config/tarnhold. Empty variables count as unset, and a relative $XDG_CONFIG_HOME is
// ignored (it would depend on the working directory). Does not touch the file system.
std::filesystem::path SettingsDirectory();

// SettingsDirectory(), created with its parents when missing. Throws
// std::filesystem::filesystem_error when it cannot be created or exists as a non-directory.
std::filesystem::path EnsureSettingsDirectory();

} // namespace registry
