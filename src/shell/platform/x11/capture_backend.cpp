#include "shell/platform/x11/capture_backend.h"

#include "shell/platform/x11/clipboard_reader.h"
#include "shell/platform/x11/copy_key_capture.h"

namespace hrd::x11 {

hrd::capture_backend capture_backend() {
    return {[](std::function<void()> on_capture, hrd::capture_backend::log_function log) {
                return std::unique_ptr<key_capture>(
                    std::make_unique<copy_key_capture>(std::move(on_capture), std::move(log)));
            },
            [](std::chrono::milliseconds answer_wait, std::chrono::milliseconds transfer_limit) {
                return std::unique_ptr<clipboard_text_reader>(
                    std::make_unique<clipboard_reader>(answer_wait, transfer_limit));
            }};
}

}  // namespace hrd::x11
