// Operating-system services of the start-up: locale separator, instance lock, executable dir.
#include "platform/system/system.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path UniqueDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

class LocaleEnvironment : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("LOCPATH");
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_NUMERIC");
        ::unsetenv("LANG");
    }
};

TEST_F(LocaleEnvironment, SeparatorFollowsTheUserLocaleWithoutSwitchingTheProcess) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_NUMERIC");
    ::unsetenv("LANG");
    EXPECT_EQ(sys::LocaleDecimalSeparator(), ".");
    ::setenv("LANG", "xx_NOWHERE.UTF-8", 1);
    EXPECT_EQ(sys::LocaleDecimalSeparator(), ".") << "an unknown locale falls back to '.'";

    // A French locale compiled into a private directory (the machine may have none installed).
    const fs::path dir = UniqueDir("locales");
    const std::string build =
        "localedef -i fr_FR -f UTF-8 " + (dir / "fr_FR.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0 || !fs::exists(dir / "fr_FR.UTF-8"))
        GTEST_SKIP() << "localedef cannot build fr_FR here";
    ::setenv("LOCPATH", dir.c_str(), 1);
    ::setenv("LANG", "C", 1);
    ::setenv("LC_NUMERIC", "fr_FR.UTF-8", 1);
    EXPECT_EQ(sys::LocaleDecimalSeparator(), ",");
    // The process still reads numbers the C way.
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_DOUBLE_EQ(std::strtod("1.5", nullptr), 1.5);
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(sys::LocaleDecimalSeparator(), ".") << "LC_ALL wins over LC_NUMERIC";
}

TEST(InstanceLock, OneHolderAtATimeAndReleasedWithTheHolder) {
    const fs::path dir = UniqueDir("lock");
    const fs::path path = dir / "tarnhold.lock";
    sys::InstanceLock::Result result{};
    std::string error;
    auto first = sys::InstanceLock::TryAcquire(path, result, error);
    ASSERT_EQ(result, sys::InstanceLock::Result::Acquired) << error;
    ASSERT_NE(first, nullptr);

    auto second = sys::InstanceLock::TryAcquire(path, result, error);
    EXPECT_EQ(result, sys::InstanceLock::Result::HeldByOther);
    EXPECT_EQ(second, nullptr);

    first.reset();
    auto third = sys::InstanceLock::TryAcquire(path, result, error);
    EXPECT_EQ(result, sys::InstanceLock::Result::Acquired);
    EXPECT_NE(third, nullptr);

    sys::InstanceLock::TryAcquire(dir / "missing" / "x.lock", result, error);
    EXPECT_EQ(result, sys::InstanceLock::Result::Failed);
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(ExecutableDirectory, HoldsTheRunningProgram) {
    const fs::path dir = sys::ExecutableDirectory();
    EXPECT_TRUE(fs::exists(dir / "system_tests"));
}

} // namespace
