// server/files.cpp — the files folder, walked without following links.
#include "server/files.h"

#include "server/scripts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace server {

namespace {

// An owned descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// A name the folder may serve: not empty, no dot first (".", "..", hidden files), no slash
// or backslash.
bool ServableName(std::string_view name) {
    return !name.empty() && name.front() != '.' &&
           name.find_first_of("/\\") == std::string_view::npos;
}

std::string ContentType(std::string_view name) {
    const auto endsWith = [name](std::string_view suffix) {
        return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (endsWith(".txt")) return "text/plain; charset=UTF-8";
    if (endsWith(".zip")) return "application/zip";
    return "application/octet-stream";
}

Response NotFound() {
    return Response::Text(404, "Not found.\n");
}

} // namespace

Response ServeFile(const std::filesystem::path& root, std::string_view relative) {
    std::vector<std::string_view> parts;
    while (!relative.empty()) {
        const size_t slash = relative.find('/');
        parts.push_back(relative.substr(0, slash));
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    }
    if (parts.empty() || !std::all_of(parts.begin(), parts.end(), ServableName)) return NotFound();

    Fd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0) return NotFound();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        Fd next(::openat(dir.Get(), std::string(parts[i]).c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.Get() < 0) return NotFound();
        dir = std::move(next);
    }
    // O_NONBLOCK: a FIFO placed in the folder must not hang the worker before fstat refuses it.
    Fd file(::openat(dir.Get(), std::string(parts.back()).c_str(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return NotFound();
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);

    Response res;
    res.contentType = ContentType(parts.back());
    res.fileSize = uint64_t(info.st_size);
    res.fileFd = file.Release();
    return res;
}

std::vector<std::string> MapArchives(const std::filesystem::path& root) {
    std::vector<std::string> names;
    if (root.empty()) return names;
    std::error_code error;
    const std::filesystem::path folder = root / "map";
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)))
        return names;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool lowerCase =
            std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
        if (entry.symlink_status(error).type() == std::filesystem::file_type::regular &&
            entry.path().extension() == ".exe" && lowerCase && ServableName(name) &&
            IsCleanText(name))
            names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace server
