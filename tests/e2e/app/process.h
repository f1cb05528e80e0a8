// A started `tarnhold` process for the app's end-to-end and render tests: its own environment,
// standard output captured to a file, and a bounded wait for its exit.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace apptest {

inline std::filesystem::path GameExecutable() {
    return std::filesystem::path(TARNHOLD_INSTALL_DIR) / "tarnhold";
}

// The command line that runs the game on a display: the game itself when DISPLAY is set, else
// inside a virtual X server.
inline std::vector<std::string> OnDisplayCommand() {
    std::vector<std::string> argv;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        argv = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"};
    }
    argv.push_back(GameExecutable().string());
    return argv;
}

// The environment of a game run on a display with the script `script`: its settings in
// `dir`/home, no sound device.
inline std::map<std::string, std::string>
DisplayRunEnvironment(const std::filesystem::path& dir, const std::filesystem::path& script) {
    return {{"TARNHOLD_HOME", (dir / "home").string()},
            {"TARNHOLD_SCRIPT", script.string()},
            {"SDL_AUDIODRIVER", "dummy"}};
}

// A fresh directory under the test temp dir, unique per process.
inline std::filesystem::path FreshDir(const std::string& name) {
    const auto dir =
        std::filesystem::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class Process {
public:
    // Starts `argv` with the current environment plus `env`; stdout and stderr go to `output`.
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::filesystem::path& output)
        : output_(output) {
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env)
                ::setenv(name.c_str(), value.c_str(), 1);
            std::FILE* out = std::freopen(output.c_str(), "w", stdout);
            if (out == nullptr) ::_exit(126);
            ::dup2(::fileno(stdout), 2);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // The exit code, or -1 when it did not end within `limit` (it keeps running).
    int WaitExit(std::chrono::milliseconds limit) {
        if (exited_) return code_;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return code_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    bool Running() { return WaitExit(std::chrono::milliseconds(0)) == -1; }

    // Waits until the output holds `text`; false after `limit` or when the process ended.
    bool WaitOutput(const std::string& text, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (Output().find(text) != std::string::npos) return true;
            if (!Running()) return Output().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string Output() const { return ReadFile(output_); }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int code_ = -1;
    std::filesystem::path output_;
};

// One machine of a multi-machine test: the game headless and silent, with its own settings
// directory dir/name, the automation script `script` (written to dir/name.txt) and the
// variables of `env` on top; its output goes to dir/name.out. `executable` is the game of that
// machine's installation (default: the build's).
inline std::unique_ptr<Process>
LaunchMachine(const std::filesystem::path& dir, const std::string& name, const std::string& script,
              std::map<std::string, std::string> env,
              const std::filesystem::path& executable = GameExecutable()) {
    const auto home = dir / name;
    std::filesystem::create_directories(home);
    std::ofstream(dir / (name + ".txt")) << script;
    env.emplace("SDL_VIDEODRIVER", "dummy");
    env.emplace("SDL_AUDIODRIVER", "dummy");
    env.emplace("TARNHOLD_NO_AUDIO", "1");
    env["TARNHOLD_HOME"] = home.string();
    env["TARNHOLD_SCRIPT"] = (dir / (name + ".txt")).string();
    return std::make_unique<Process>(std::vector<std::string>{executable.string()}, env,
                                     dir / (name + ".out"));
}

} // namespace apptest
