// platform/system/system.h — services of the operating system the start-up needs: the
// executable's directory, the locale's decimal separator, the single-instance lock and the log.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace sys {

// The directory holding the running executable (the installation directory). Falls back to
// the current directory when the system cannot say.
std::filesystem::path ExecutableDirectory();

// The decimal separator of the user's locale for numbers (LC_ALL, LC_NUMERIC or LANG from the
// environment), without changing the process's own locale: C functions keep parsing "1.5".
// "." when the locale is unset, unknown or has no separator.
std::string LocaleDecimalSeparator();

// An exclusive lock on a file, held until the object is destroyed or the process ends (the
// kernel releases it even after a crash, so a stale lock file never blocks a start).
class InstanceLock {
public:
    enum class Result {
        Acquired,    // this process is the only instance
        HeldByOther, // another live process holds the lock
        Failed,      // the lock file cannot be opened or locked (error() says why)
    };

    // Tries once, without waiting, to lock `path` (created when missing).
    static std::unique_ptr<InstanceLock> TryAcquire(const std::filesystem::path& path,
                                                    Result& result, std::string& error);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

// The log: every line goes to standard output and, once OpenLogFile succeeded, to that file
// (appended, flushed per line). Safe to call before OpenLogFile.
bool OpenLogFile(const std::filesystem::path& path);
void CloseLogFile();
void Log(std::string_view line);

} // namespace sys
