// platform/registry/registry_local.h — helpers shared by the registry sources.
#pragma once

#include "platform/registry/registry.h"

#include <optional>
#include <string_view>

namespace registry::local {

// ASCII case-insensitive equality, as the registry compares key and value names.
bool SameName(std::string_view a, std::string_view b);

// The key of `document` whose root and path match (case-insensitively), or nullptr.
RegKey* FindKey(RegDocument& document, RootKey root, std::string_view path);

// The value of `key` named `name` (case-insensitively), or nullptr.
RegValue* FindValue(RegKey& key, std::string_view name);

// `path` with leading and trailing backslashes removed, or nullopt when it has an empty
// component or a control character (a key name cannot hold them).
std::optional<std::string> NormaliseKeyPath(std::string_view path);

} // namespace registry::local
