// tests/support/resource.h — what a test does when a resource it needs (an X display, a sound
// device) is missing. Outside CI the test is skipped and says why; in CI (CI=true in the
// environment) it fails with the same reason, so a green CI run has run every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace testsupport {

// True when the environment says this is a CI run (CI set, and not empty, "0" or "false").
inline bool InCi() {
    const char* ci = std::getenv("CI");
    if (ci == nullptr) return false;
    const std::string_view value(ci);
    return !value.empty() && value != "0" && value != "false";
}

} // namespace testsupport

// Ends the current test when `available` is false: a failure naming `what` in CI, a skip with
// the same reason elsewhere. Use where GTEST_SKIP would be used for a missing resource.
#define TARNHOLD_REQUIRE_RESOURCE(available, what)                                                 \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (::testsupport::InCi()) {                                                           \
                GTEST_FAIL() << "required resource missing in CI: " << what;                       \
            } else {                                                                               \
                GTEST_SKIP() << "required resource missing: " << what                              \
                             << " (this fails when CI=true)";                                      \
            }                                                                                      \
        }                                                                                          \
    } while (false)
