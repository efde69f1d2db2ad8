#include "fml/exception.h"

#include <cerrno>
#include <cstring>

namespace fml {

std::string error_text(int error_number) {
    char buffer[256];
    // GNU strerror_r: returns a pointer to the text, which may or may not be the buffer.
    const char* message = strerror_r(error_number, buffer, sizeof buffer);
    std::string text = "Error code: " + std::to_string(error_number);
    if (message == nullptr || *message == '\0' || std::strncmp(message, "Unknown error", 13) == 0) {
        text +=
            ". For more information visit "
            "https://man7.org/linux/man-pages/man3/errno.3.html";
    } else {
        text += ", ";
        text += message;
    }
    return text;
}

std::string last_error_text() {
    const int saved = errno;
    return error_text(saved);
}

}  // namespace fml
