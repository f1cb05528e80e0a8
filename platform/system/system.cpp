// platform/system/system.cpp — executable directory, locale, instance lock, log (POSIX).
#include "platform/system/system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace sys {

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return std::filesystem::current_path(error);
    return exe.parent_path();
}

std::string LocaleDecimalSeparator() {
    // newlocale() reads LC_ALL / LC_NUMERIC / LANG itself when given "", and leaves the
    // process's global locale (the "C" locale every number parser relies on) alone.
    const locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr)) return ".";
    const char* radix = nl_langinfo_l(RADIXCHAR, user);
    std::string separator = radix != nullptr ? radix : "";
    freelocale(user);
    if (separator.empty()) separator = ".";
    return separator;
}

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::filesystem::path& path,
                                                       Result& result, std::string& error) {
    error.clear();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        result = Result::Failed;
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK) {
            result = Result::HeldByOther;
            return nullptr;
        }
        result = Result::Failed;
        error = "cannot lock " + path.string() + ": " + std::strerror(code);
        return nullptr;
    }
    // The holder's process id, for a person looking at the file; nothing reads it back.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, pid.data(), pid.size());
    }
    result = Result::Acquired;
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

namespace {
std::FILE* gLogFile = nullptr;
}

bool OpenLogFile(const std::filesystem::path& path) {
    CloseLogFile();
    gLogFile = std::fopen(path.c_str(), "a");
    return gLogFile != nullptr;
}

void CloseLogFile() {
    if (gLogFile != nullptr) std::fclose(gLogFile);
    gLogFile = nullptr;
}

void Log(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (gLogFile != nullptr) {
        std::fwrite(line.data(), 1, line.size(), gLogFile);
        std::fputc('\n', gLogFile);
        std::fflush(gLogFile);
    }
}

} // namespace sys
