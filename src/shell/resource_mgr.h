#pragma once
// The files of the program's res/ folder, read into memory once at start-up; the
// window loads the main document and everything it refers to from here.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fml/singleton.h"

namespace hrd {

class ResourceMgr : public fml::singleton<ResourceMgr> {
public:
    static constexpr const char* singleton_name = "ResourceMgr";

    // Reads HoardlyDir + "/res".
    ResourceMgr();
    // Reads `folder`; a missing folder gives no resources. A file that exists but
    // cannot be read raises load_hrd_resource_error with its path: a half-installed
    // program should say so rather than show a blank window.
    explicit ResourceMgr(const std::u16string& folder);

    // Names are bare file names, exact and case-sensitive.
    bool has(std::u16string_view name) const;
    // Raises resource_not_found_error (the name in UTF-8) for an unknown name.
    const std::vector<char>& get(std::u16string_view name) const;
    size_t size() const { return m_files.size(); }

private:
    std::map<std::u16string, std::vector<char>, std::less<>> m_files;
};

}  // namespace hrd
