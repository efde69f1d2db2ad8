#pragma once
// What a drop from another program offers as quote text.

#include <optional>
#include <string>

class QMimeData;

namespace hrd::qt {

// The dropped text, UTF-16 when offered so, else plain text, to its real length
// (a terminating NUL that some programs add is not part of it). nullopt when the
// drop carries no text, or carries files: dropped files are not quotes, even
// though file managers offer their paths as text too.
std::optional<std::u16string> dropped_text(const QMimeData& data);

}  // namespace hrd::qt
