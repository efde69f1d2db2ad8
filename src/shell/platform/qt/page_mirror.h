#pragma once
// Turns the document's patch stream into the JSON records the page applies. Each
// inserted subtree is described from the tree itself, node by node (tag,
// attributes, text, serial), so the page builds it with createElement and
// setAttribute and never parses markup. Whatever could run script in the page is
// left out here: script-like elements with everything inside them, event-handler
// attributes, links other than http(s), mailto or our own, and anything the page
// would load from outside the program.
//
// No Qt here, so the rules can be tested without a display.

#include <cstdint>
#include <string>
#include <string_view>

namespace layout {
class document;
struct patch;
}  // namespace layout

namespace hrd::qt {

// Whether an element of this tag (any case) may appear in the page.
bool is_safe_element(std::string_view tag);
// Whether an attribute may appear in the page with this value.
bool is_safe_attribute(std::string_view name, std::string_view value);

// The state bits as the page's style sheets match them: a space-separated list of
// names for the data-state attribute, e.g. "focus current".
std::string state_names(std::uint32_t state);

class page_mirror_encoder {
public:
    explicit page_mirror_encoder(layout::document& document) : m_document(document) {}

    // Appends the record for `change` to `batch`, a JSON array being built ("[" is
    // written before the first record). Call it from the document's observer, right
    // after the change: an insertion is described from the tree as it is then.
    void encode(const layout::patch& change, std::string& batch) const;
    // Appends a record that empties the page and rebuilds it from the whole tree.
    void encode_snapshot(std::string& batch) const;

    // Closes `batch`; returns "" when it holds no record.
    static std::string finish(std::string batch);

private:
    layout::document& m_document;
};

}  // namespace hrd::qt
