#pragma once
// Time for element timers, in milliseconds from any fixed start. The element tree
// reads the steady clock unless a test sets one of its own.

#include <cstdint>

namespace hrd {

class clock {
public:
    virtual ~clock() = default;
    virtual std::int64_t now_ms() const = 0;
};

}  // namespace hrd
