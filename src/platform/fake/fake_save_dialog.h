#pragma once
// A save dialog for tests: answers with `answer` and records what it was told.

#include <vector>

#include "platform/save_dialog.h"

namespace hrd::fake {

class fake_dialog final : public save_dialog {
public:
    std::optional<std::u16string> ask_export_path() override {
        ++asked;
        return answer;
    }
    void tell_failure(std::u16string_view message) override { failures.emplace_back(message); }
    std::optional<std::u16string> answer;
    int asked = 0;
    std::vector<std::u16string> failures;
};

}  // namespace hrd::fake
