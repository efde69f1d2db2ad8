#pragma once
// A layout document loaded with the real main document from res/, with a host that
// serves its style sheets from the source tree, for tests without a window.

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "layout/document.h"
#include "support/temp_dir.h"

namespace hrd::test {

class res_host : public layout::host {
public:
    // Behavior binding goes to `bindings` when a test gives one.
    void attach_behavior(layout::handle element, std::string_view name) override {
        if (bindings != nullptr) {
            bindings->attach_behavior(element, name);
        }
    }
    void create_control(layout::handle element) override {
        if (bindings != nullptr) {
            bindings->create_control(element);
        }
    }
    std::optional<std::string> load_resource(std::string_view uri) override {
        const std::string content = read_file(source_dir() + "/res/" + std::string(uri));
        if (content.empty())
            return std::nullopt;
        return content;
    }

    layout::host* bindings = nullptr;
};

struct main_document {
    explicit main_document(layout::host* bindings = nullptr) {
        host.bindings = bindings;
        doc.set_host(&host);
        doc.load_html(read_file(source_dir() + "/res/mainform.htm"));
    }
    res_host host;
    layout::document doc;
};

}  // namespace hrd::test
