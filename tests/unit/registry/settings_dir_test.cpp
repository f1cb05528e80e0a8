// Where the settings directory is, and that it is created on demand.
#include "platform/registry/registry.h"
#include "test_env.h"

#include <fstream>
#include <gtest/gtest.h>

using registry_test::ScopedEnv;
using registry_test::TempDir;

TEST(SettingsDirectory, FollowsTarnholdHomeThenXdgThenHome) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv own("TARNHOLD_HOME", "/tmp/machine-a");
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        ScopedEnv data("XDG_DATA_HOME", "/xdg-data");
        EXPECT_EQ(registry::SettingsDirectory(), "/tmp/machine-a");
        EXPECT_EQ(registry::DataDirectory(), "/tmp/machine-a/data"); // one folder per machine
    }
    {
        ScopedEnv own("TARNHOLD_HOME", "");
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        ScopedEnv data("XDG_DATA_HOME", "/xdg-data");
        EXPECT_EQ(registry::SettingsDirectory(), "/xdg/tarnhold");
        EXPECT_EQ(registry::DataDirectory(), "/xdg-data/tarnhold");
    }
    {
        ScopedEnv own("TARNHOLD_HOME", std::nullopt);
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config");
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(registry::SettingsDirectory(), "/home/someone/.config/tarnhold");
        EXPECT_EQ(registry::DataDirectory(), "/home/someone/.local/share/tarnhold");
    }
    {
        ScopedEnv own("TARNHOLD_HOME", std::nullopt);
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(registry::SettingsDirectory(), "/home/someone/.config/tarnhold");
        EXPECT_EQ(registry::DataDirectory(), "/home/someone/.local/share/tarnhold");
    }
}

TEST(SettingsDirectory, EnsureCreatesNestedDirectoryAndRefusesAFile) {
    TempDir temp;
    const auto wanted = temp.path() / "a" / "b";
    {
        ScopedEnv own("TARNHOLD_HOME", wanted.string());
        EXPECT_FALSE(std::filesystem::exists(wanted)); // resolving alone creates nothing
        EXPECT_EQ(registry::SettingsDirectory(), wanted);
        EXPECT_FALSE(std::filesystem::exists(wanted));
        EXPECT_EQ(registry::EnsureSettingsDirectory(), wanted);
        EXPECT_TRUE(std::filesystem::is_directory(wanted));
        EXPECT_EQ(registry::EnsureSettingsDirectory(), wanted); // idempotent
    }
    const auto file = temp.path() / "plain-file";
    std::ofstream(file) << "x";
    ScopedEnv own("TARNHOLD_HOME", file.string());
    EXPECT_THROW(registry::EnsureSettingsDirectory(), std::filesystem::filesystem_error);
}
