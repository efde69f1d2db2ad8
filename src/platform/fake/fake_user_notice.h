#pragma once
// A user notice for tests: records each warning as (title, message).

#include <string>
#include <utility>
#include <vector>

#include "platform/user_notice.h"

namespace hrd::fake {

class fake_user_notice final : public user_notice {
public:
    void warn(std::u16string_view title, std::u16string_view message) override {
        warnings.emplace_back(title, message);
    }
    std::vector<std::pair<std::u16string, std::u16string>> warnings;
};

}  // namespace hrd::fake
