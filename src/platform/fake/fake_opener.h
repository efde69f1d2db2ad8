#pragma once
// An opener for tests: records what it was asked to open and opens nothing.

#include <string>
#include <vector>

#include "platform/opener.h"

namespace hrd::fake {

class fake_opener final : public desktop_opener {
public:
    bool open_url(std::u16string_view url) override {
        urls.emplace_back(url);
        return true;
    }
    bool open_file(std::u16string_view path) override {
        files.emplace_back(path);
        return true;
    }
    std::vector<std::u16string> urls;
    std::vector<std::u16string> files;
};

}  // namespace hrd::fake
