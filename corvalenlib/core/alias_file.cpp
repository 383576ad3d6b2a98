// SPDX-License-Identifier: MIT
#include "corvalenlib/core/alias_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "corvalenlib/core/errors.h"

namespace CorvalenLib {
namespace {

enum class ReadResult { Read, Missing, Failed };

// The file's text, at most limit + 1 bytes, so that an over-long file shows.
ReadResult readText(const std::string& path, std::size_t limit, std::string& text, std::string& cause) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ReadResult::Missing;
        cause = std::strerror(errno);
        return ReadResult::Failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        cause = "not a regular file";
        ::close(fd);
        return ReadResult::Failed;
    }
    text.clear();
    char chunk[8192];
    while (text.size() <= limit) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            cause = std::strerror(errno);
            ::close(fd);
            return ReadResult::Failed;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ReadResult::Read;
}

void report(std::vector<std::string>& problems, const std::string& where, const std::vector<AliasProblem>& found,
            bool byLine) {
    for (const auto& problem : found) {
        problems.push_back(where + (byLine ? ":" : ": entry ") + std::to_string(problem.line) + ": " + problem.text +
                           "; skipped");
    }
}

std::string directoryOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

void makeDirectories(const std::string& directory) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const auto part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw IoError("cannot make " + part + ": " + std::strerror(errno));
        }
        if (slash == std::string::npos) return;
    }
}

// The file path names once its symbolic links are followed (as many as the
// kernel follows): an aliases file kept as a link into a dotfiles
// repository must stay a link, and its target is what is rewritten.
std::string linkTarget(const std::string& path) {
    constexpr int kMaxLinks = 40;
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        char target[4096];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length < 0) throw IoError("cannot follow " + current + ": " + std::strerror(errno));
        if (static_cast<std::size_t>(length) == sizeof target) {
            throw IoError("cannot follow " + current + ": " + std::strerror(ENAMETOOLONG));
        }
        const std::string next(target, static_cast<std::size_t>(length));
        current = next.front() == '/' ? next : directoryOf(current) + "/" + next;
    }
    throw IoError("cannot write " + path + ": " + std::strerror(ELOOP));
}

// A new file is 0600; a target already stricter than that keeps its mode.
mode_t modeFor(const std::string& target) {
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) return 0600;
    return status.st_mode & 0600;
}

// The temporary file lies beside the target, so that the rename stays on
// one file system and replaces the target, not a link to it.
void writeAtomically(const std::string& link, const std::string& text) {
    const std::string path = linkTarget(link);
    makeDirectories(directoryOf(path));
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw IoError("cannot write " + path + ": " + std::strerror(errno));
    std::string_view left = text;
    bool ok = ::fchmod(fd, modeFor(path)) == 0;
    while (ok && !left.empty()) {
        const ssize_t put = ::write(fd, left.data(), left.size());
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = ENOSPC;  // write sets no errno when it puts nothing: the disk took no more
        ok = put > 0;
        if (ok) left.remove_prefix(static_cast<std::size_t>(put));
    }
    const int error = ok ? 0 : errno;
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int cause = error != 0 ? error : errno;
        ::unlink(temporary.c_str());
        throw IoError("cannot write " + path + ": " + std::strerror(cause));
    }
}

}  // namespace

std::string aliasFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // XDG base directories must be absolute: a relative XDG_CONFIG_HOME is ignored.
    if (config != nullptr && config[0] == '/') return std::string(config) + "/corvalen/aliases.conf";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/corvalen/aliases.conf";
    return {};
}

LoadedAliases loadAliases() {
    LoadedAliases loaded;
    std::vector<AliasProblem> found;
    if (const char* variable = std::getenv("CORVALEN_IO_ALIASES")) {
        loaded.aliases = parseAliasVariable(variable, found);
        report(loaded.problems, "CORVALEN_IO_ALIASES", found, false);
    }
    const auto path = aliasFilePath();
    if (path.empty()) return loaded;
    std::string text;
    std::string cause;
    switch (readText(path, kMaxAliasFile, text, cause)) {
        case ReadResult::Missing: return loaded;
        case ReadResult::Failed:
            loaded.problems.push_back("cannot read " + path + ": " + cause + "; its aliases are not used");
            return loaded;
        case ReadResult::Read: break;
    }
    if (text.size() > kMaxAliasFile) {
        loaded.problems.push_back(path + " is larger than 1 MiB; its aliases are not used");
        return loaded;
    }
    found.clear();
    auto fromFile = parseAliasFile(text, path, found);
    report(loaded.problems, path, found, true);
    loaded.aliases.insert(loaded.aliases.end(), std::make_move_iterator(fromFile.begin()),
                          std::make_move_iterator(fromFile.end()));
    return loaded;
}

void saveBoardBinding(int board, const std::string& controller) {
    const auto path = aliasFilePath();
    if (path.empty()) throw IoError("nowhere to keep the binding: neither XDG_CONFIG_HOME nor HOME is set");
    std::string text;
    std::string cause;
    const auto result = readText(path, kMaxAliasFile, text, cause);
    if (result == ReadResult::Failed) throw IoError("cannot read " + path + ": " + cause);
    if (result == ReadResult::Missing) text.clear();
    if (text.size() > kMaxAliasFile) throw IoError(path + " is larger than 1 MiB; edit it by hand");
    writeAtomically(path, withBoardBinding(text, board, controller));
}

}  // namespace CorvalenLib
