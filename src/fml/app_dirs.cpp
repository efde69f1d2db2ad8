#include "fml/app_dirs.h"

#include <map>

namespace hrd::app_dirs {
namespace {

std::map<std::u16string, std::u16string, std::less<>>& table() {
    static std::map<std::u16string, std::u16string, std::less<>> dirs;
    return dirs;
}

}  // namespace

std::u16string get(std::u16string_view key) {
    auto it = table().find(key);
    return it == table().end() ? std::u16string() : it->second;
}

void set(std::u16string_view key, std::u16string value) {
    table().insert_or_assign(std::u16string(key), std::move(value));
}

}  // namespace hrd::app_dirs
