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

// One drag from another program as it crosses the window. Its text is read once,
// as it enters, and that decides everything: the window takes the drag (and tells
// the other program so) exactly when there is text, and the drop hands over the
// text read then. The drop asks the other program for nothing: it may be gone by
// then (its drag ended with our answer), and asking a program that is gone holds
// the whole window for seconds.
class drag_offer {
public:
    // A drag entered (a new drag, or the same one again): true when it is taken.
    // With `taking` false every drag is refused.
    bool enter(const QMimeData* data, bool taking);
    bool taken() const { return m_text.has_value(); }
    // The drop ends the drag: the text read as it entered, or nullopt when the drag
    // was refused (the other program learns that nothing was taken).
    std::optional<std::u16string> drop();

private:
    std::optional<std::u16string> m_text;
};

}  // namespace hrd::qt
