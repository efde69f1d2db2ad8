#pragma once
// A clock for tests that moves only when told to.

#include "platform/clock.h"

namespace hrd::fake {

class fake_clock final : public clock {
public:
    explicit fake_clock(std::int64_t start_ms = 0) : now(start_ms) {}
    std::int64_t now_ms() const override { return now; }
    std::int64_t now;
};

}  // namespace hrd::fake
