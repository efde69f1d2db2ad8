#include "tinyfilesystem/filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "fml/text.h"
#include "fml/unique_fd.h"

namespace tinyfilesystem {
namespace {

std::string narrow(std::u16string_view path) {
    return fml::wchar2utf8(path);
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool is_absolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

// The environment's answer for the per-user data folder, or "" when there is none.
std::string appdata_from_env() {
    const std::string xdg = env("XDG_DATA_HOME");
    if (is_absolute(xdg)) {
        return xdg;
    }
    const std::string home = env("HOME");
    if (is_absolute(home)) {
        return home + "/.local/share";
    }
    return {};
}

std::string strip_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// Creates `path` and any missing parents, each new one 0700.
bool make_directories(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash))) {
        return false;
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

void throw_with_errno(const std::string& what, const std::string& path) {
    const std::string error = fml::last_error_text();
    throw filesystem_error(what + " \"" + path + "\": " + error);
}

void write_all(int fd, const char* data, size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw_with_errno("Cannot write", path);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void copy_contents(int from_fd, int to_fd, const std::string& from, const std::string& to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(from_fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw_with_errno("Cannot read", from);
        }
        if (got == 0) {
            return;
        }
        write_all(to_fd, buffer.data(), static_cast<size_t>(got), to);
    }
}

void sync_parent_folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const fml::unique_fd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        ::fsync(folder.get());
    }
}

}  // namespace

bool appdata_folder_known() noexcept {
    return !appdata_from_env().empty();
}

std::u16string appdata_folder() {
    const std::string folder = strip_trailing_slashes(appdata_from_env());
    if (folder.empty() || !make_directories(folder)) {
        throw special_folder_error("CSIDL_APPDATA error");
    }
    return fml::utf82wchar(folder);
}

std::u16string common_appdata_folder() {
    std::string dirs = env("XDG_DATA_DIRS");
    if (dirs.empty()) {
        dirs = "/usr/local/share:/usr/share";
    }
    std::string first;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string entry = strip_trailing_slashes(dirs.substr(start, end - start));
        start = end + 1;
        if (!is_absolute(entry)) {
            continue;  // relative entries are invalid by the XDG rules
        }
        if (first.empty()) {
            first = entry;
        }
        struct stat info {};
        if (::stat((entry + "/Hoardly").c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return fml::utf82wchar(entry);
        }
    }
    if (first.empty()) {
        throw special_folder_error("CSIDL_APPDATA error");
    }
    return fml::utf82wchar(first);
}

bool file_exists(std::u16string_view path) noexcept {
    struct stat info {};
    try {
        return ::stat(narrow(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    } catch (...) {
        return false;
    }
}

bool dir_exists(std::u16string_view path) noexcept {
    struct stat info {};
    try {
        return ::stat(narrow(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    } catch (...) {
        return false;
    }
}

std::u16string join_path(std::u16string_view dir, std::u16string_view name) {
    if (dir.empty()) {
        return std::u16string(name);
    }
    std::u16string result(dir);
    if (result.back() != u'/' && result.back() != u'\\') {
        result += u'/';
    }
    result += name;
    return result;
}

void create_directory(std::u16string_view path) {
    const std::string p = narrow(path);
    if (::mkdir(p.c_str(), 0700) == 0) {
        return;
    }
    if (errno == EEXIST) {
        struct stat info {};
        if (::stat(p.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return;
        }
        errno = ENOTDIR;
    }
    throw_with_errno("Cannot create folder", p);
}

void copy_file_if_missing(std::u16string_view from, std::u16string_view to) {
    const std::string source = narrow(from);
    const std::string target = narrow(to);
    fml::unique_fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        throw_with_errno("Cannot open", source);
    }
    std::random_device random;
    const std::string temporary =
        target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(random());
    fml::unique_fd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        throw_with_errno("Cannot create", temporary);
    }
    try {
        copy_contents(in.get(), out.get(), source, temporary);
        if (::fsync(out.get()) != 0) {
            throw_with_errno("Cannot sync", temporary);
        }
        if (!out.close()) {
            throw_with_errno("Cannot close", temporary);
        }
        // link() fails when the target exists, so a file the user already has is
        // never replaced, not even by a copy running at the same moment.
        if (::link(temporary.c_str(), target.c_str()) != 0) {
            if (errno == EEXIST) {
                ::unlink(temporary.c_str());
                return;
            }
            throw_with_errno("Cannot create", target);
        }
        ::unlink(temporary.c_str());
        sync_parent_folder(target);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

std::u16string executable_folder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            throw_with_errno("Cannot read", "/proc/self/exe");
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(length));
            const size_t slash = path.find_last_of('/');
            path = slash == 0 ? "/" : path.substr(0, slash);
            return fml::utf82wchar(path);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace tinyfilesystem
