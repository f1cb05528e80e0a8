// platform/registry/settings_dir.cpp — resolution of the settings directory.
#include "platform/registry/registry.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace registry {
namespace {

// The value of an environment variable, or "" when unset.
std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The user's home directory: $HOME, else the password database, else "" (unknown).
std::filesystem::path HomeDirectory() {
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd record{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &record, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] != '\0')
        return found->pw_dir;
    return {};
}

} // namespace

std::filesystem::path SettingsDirectory() {
    const std::string own = EnvOrEmpty("TARNHOLD_HOME");
    if (!own.empty()) return own;
    const std::filesystem::path xdg = EnvOrEmpty("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.is_absolute()) return xdg / "tarnhold";
    return HomeDirectory() / ".config" / "tarnhold";
}

std::filesystem::path DataDirectory() {
    const std::string own = EnvOrEmpty("TARNHOLD_HOME");
    if (!own.empty()) return std::filesystem::path(own) / "data";
    const std::filesystem::path xdg = EnvOrEmpty("XDG_DATA_HOME");
    if (!xdg.empty() && xdg.is_absolute()) return xdg / "tarnhold";
    return HomeDirectory() / ".local" / "share" / "tarnhold";
}

std::filesystem::path EnsureSettingsDirectory() {
    const std::filesystem::path dir = SettingsDirectory();
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error)
        throw std::filesystem::filesystem_error("cannot create settings directory", dir, error);
    if (!std::filesystem::is_directory(dir))
        throw std::filesystem::filesystem_error("settings directory is not a directory", dir,
                                                std::make_error_code(std::errc::not_a_directory));
    return dir;
}

} // namespace registry
