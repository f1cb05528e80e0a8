// tests/support/command.h — runs a shell command and keeps what it printed.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace testsupport {

struct CommandRun {
    int status = -1; // exit status; -1 when the command could not start or did not exit
    std::string out; // standard output (add " 2>&1" to the command for standard error too)
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

} // namespace testsupport
