#pragma once
// The process-wide table of the program's folders. Start-up fills it once, before
// anything reads it; reading a key that was never set gives an empty path.

#include <string>
#include <string_view>

namespace hrd::app_dirs {

// The per-user data folder (holds the collection, default files and logs).
inline constexpr std::u16string_view DataDir = u"DataDir";
// The folder of the running program (holds res/ and "DragMgr.xml").
inline constexpr std::u16string_view HoardlyDir = u"HoardlyDir";

std::u16string get(std::u16string_view key);
void set(std::u16string_view key, std::u16string value);

}  // namespace hrd::app_dirs
