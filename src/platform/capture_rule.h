#pragma once
// The double-copy gesture: pressing the copy key (Ctrl+C or Ctrl+Insert) twice within
// 500 ms anywhere stores the clipboard text as a quote, and the second press is kept
// from the program that has the focus. The platform feeds every copy-key press to
// this object and does what it says; nothing here touches the platform.

#include <cstdint>

namespace hrd {

// Windows virtual-key numbers of the copy keys.
inline constexpr std::uint32_t vk_insert = 0x2D;
inline constexpr std::uint32_t vk_c = 0x43;

struct key_press {
    std::uint32_t key = 0;      // virtual-key number
    bool control = false;       // Control held
    bool alt = false;           // Alt held (a "system" key press)
    bool repeat = false;        // an auto-repeat of a key that is still held
    std::uint32_t time_ms = 0;  // a millisecond clock that wraps at 2^32
};

enum class capture_decision {
    pass_on,  // deliver the press as usual
    capture,  // withhold the press and store the clipboard text
};

class capture_rule {
public:
    static constexpr std::uint32_t window_ms = 500;

    // Decides one key-down. Rules:
    // - keys other than the copy keys, presses with Alt and auto-repeats pass on and
    //   change nothing (a held Ctrl+C stores at most one quote);
    // - a copy key with Control within 500 ms of the last copy key that did not
    //   capture is captured, without renewing that time, so quick further presses
    //   keep capturing;
    // - any other copy-key press (with or without Control) passes on and renews it.
    // Time differences are unsigned 32-bit, so the clock may wrap.
    capture_decision decide(const key_press& press) noexcept {
        if ((press.key != vk_c && press.key != vk_insert) || press.alt || press.repeat) {
            return capture_decision::pass_on;
        }
        if (press.control && m_seen_copy_key &&
            std::uint32_t(press.time_ms - m_last_copy_time) < window_ms) {
            return capture_decision::capture;
        }
        m_last_copy_time = press.time_ms;
        m_seen_copy_key = true;
        return capture_decision::pass_on;
    }

    // Whether `key` is one the rule looks at; the platform grabs only these.
    static bool is_copy_key(std::uint32_t key) noexcept { return key == vk_c || key == vk_insert; }

private:
    // The very first copy key never captures, whatever the clock reads then.
    bool m_seen_copy_key = false;
    std::uint32_t m_last_copy_time = 0;
};

}  // namespace hrd
