#pragma once
// The system clipboard as the core sees it: UTF-16 text in and out. The desktop shell
// provides the real one; tests and programs without a desktop use memory_clipboard.

#include <string>
#include <string_view>

namespace hrd {

class clipboard {
public:
    virtual ~clipboard() = default;
    // The clipboard's text; "" when it holds none. Raises when the clipboard cannot be read.
    virtual std::u16string read_text() = 0;
    // Replaces the clipboard's content with `text`. Raises when it cannot be written.
    virtual void write_text(std::u16string_view text) = 0;
};

// A clipboard that lives in memory, for tests and for running without a desktop.
class memory_clipboard final : public clipboard {
public:
    std::u16string read_text() override { return m_text; }
    void write_text(std::u16string_view text) override {
        m_text = text;
        ++m_writes;
    }
    // How many times the text was written.
    int writes() const { return m_writes; }

private:
    std::u16string m_text;
    int m_writes = 0;
};

}  // namespace hrd
