#pragma once
// The program's one exception family, and the text of the last system error.

#include <exception>
#include <string>

namespace fml {

// Carries one message text; every exception the program raises derives from it.
class exception : public std::exception {
public:
    explicit exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// Declares an exception type that only carries its message text.
#define FML_DECLARE_EXCEPTION(name, base) \
    class name : public base {            \
        using inherited = base;           \
                                          \
    public:                               \
        using inherited::inherited;       \
    }

FML_DECLARE_EXCEPTION(reglog_error, exception);
FML_DECLARE_EXCEPTION(getlog_error, exception);
FML_DECLARE_EXCEPTION(cannot_open_log_error, exception);
FML_DECLARE_EXCEPTION(deprecated, exception);
FML_DECLARE_EXCEPTION(text_conversion_error, exception);

// "Error code: " + errno + its description. Reads errno first, so call it right
// after the failing call. Never throws and allocates nothing that can recurse.
std::string last_error_text();
// The same text for an explicit error number.
std::string error_text(int error_number);

}  // namespace fml
