#pragma once
// The desktop's opener for links and the help document.

#include <string_view>

namespace hrd {

class desktop_opener {
public:
    virtual ~desktop_opener() = default;
    // Opens an http(s) or mailto address in the user's program for it.
    virtual bool open_url(std::u16string_view url) = 0;
    // Opens a local document (the help) in the user's program for it.
    virtual bool open_file(std::u16string_view path) = 0;
};

}  // namespace hrd
