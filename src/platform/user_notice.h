#pragma once
// Tells the user what they would otherwise never see, such as a capture that could
// not be kept while they were busy in another program.

#include <string_view>

namespace hrd {

class user_notice {
public:
    virtual ~user_notice() = default;
    // Shows `message` under `title` without stopping the user's work.
    virtual void warn(std::u16string_view title, std::u16string_view message) = 0;
};

}  // namespace hrd
