#pragma once
// The "Export to file" save dialog.

#include <optional>
#include <string>
#include <string_view>

namespace hrd {

class save_dialog {
public:
    virtual ~save_dialog() = default;
    // The path the user chose, or nullopt when they cancelled.
    virtual std::optional<std::u16string> ask_export_path() = 0;
    // Tells the user in a message box that the export failed; `message` names the
    // file and says why in plain words.
    virtual void tell_failure(std::u16string_view message) = 0;
};

}  // namespace hrd
