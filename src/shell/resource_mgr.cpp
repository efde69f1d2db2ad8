#include "shell/resource_mgr.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fml/app_dirs.h"
#include "fml/text.h"
#include "fml/unique_fd.h"
#include "shell/errors.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd {
namespace {

std::vector<char> read_whole_file(const std::string& path) {
    const fml::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        throw load_hrd_resource_error("Cannot read resource \"" + path +
                                      "\": " + fml::last_error_text());
    }
    std::vector<char> content;
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const std::string error = fml::last_error_text();
            throw load_hrd_resource_error("Cannot read resource \"" + path + "\": " + error);
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), block, block + got);
    }
    return content;
}

}  // namespace

ResourceMgr::ResourceMgr()
    : ResourceMgr(tinyfilesystem::join_path(app_dirs::get(app_dirs::HoardlyDir), u"res")) {}

ResourceMgr::ResourceMgr(const std::u16string& folder) {
    const std::string dir = fml::wchar2utf8(folder);
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        return;  // no res folder: no resources
    }
    try {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = dir + "/" + name;
            struct stat info {};
            const bool is_file = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
            // The folder is flat; anything that is not a file is listed with no content.
            m_files.emplace(fml::utf82wchar(name),
                            is_file ? read_whole_file(path) : std::vector<char>());
        }
    } catch (...) {
        ::closedir(listing);
        throw;
    }
    ::closedir(listing);
}

bool ResourceMgr::has(std::u16string_view name) const {
    return m_files.find(name) != m_files.end();
}

const std::vector<char>& ResourceMgr::get(std::u16string_view name) const {
    auto it = m_files.find(name);
    if (it == m_files.end()) {
        throw resource_not_found_error(fml::wchar2utf8(name));
    }
    return it->second;
}

}  // namespace hrd
