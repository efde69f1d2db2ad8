#pragma once
// A main window for tests: shows the document it is given and records hides.

#include "platform/window.h"

namespace hrd::fake {

class fake_window final : public main_window {
public:
    explicit fake_window(layout::document& doc) : m_doc(doc) {}
    layout::document& document() override { return m_doc; }
    void show() override { m_shown = true; }
    void hide() override {
        m_shown = false;
        ++hides;
    }
    bool is_shown() const override { return m_shown; }
    int hides = 0;

private:
    layout::document& m_doc;
    bool m_shown = true;
};

}  // namespace hrd::fake
