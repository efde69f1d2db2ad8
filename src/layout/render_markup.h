#pragma once
// The document as one piece of HTML for a renderer that lays out markup itself
// (the desktop's own painter), rather than mirroring the patch stream node by node.
// Every element carries its serial ("data-serial") so that the renderer can send
// input back to it, and its states as the page's style sheets match them
// ("data-state"). The same things are left out as for the web page: script-like
// elements, event-handler attributes, unsafe links. A long list gives the rows it
// holds, and huge texts in those rows are shortened (page_mirror.h, shown_text).
//
// Plain C++: what the renderer is given is tested without a display.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "layout/types.h"

namespace layout {

class document;

struct render_markup_options {
    // Style text added to an element's own (by serial): where the renderer put a
    // pop-up, how far it scrolled a pane.
    std::unordered_map<std::uint32_t, std::string> extra_style;
    // Elements with no content at all carry data-empty="", for a renderer whose
    // selectors lack :empty.
    bool mark_empty = false;
    // A word that runs across an inline element's edge ("<mark>quote</mark>s") is
    // kept on one line, for a renderer that would break it there.
    bool keep_words_whole = false;
    // Elements (by serial) left out with all they hold: rows out of view.
    std::unordered_set<std::uint32_t> left_out;
    // Markup put first inside the root element, in place of the document's own
    // head (whose style links the renderer reads itself): the renderer's styles.
    std::string head;
};

// The whole document as HTML (no doctype), or "" when it has no root.
std::string render_markup(const document& doc, const render_markup_options& options = {});

// A renderer may lay out parts of the document apart (each row of a list, so that
// a change to one row lays out that row alone). A part is written as it stands in
// the whole document, and put in its ancestors' tags (with their attributes and
// styles, the head after the root's, none of their other children), so that the
// style sheets' selectors and inherited styles reach it as in the whole document.

// `element` with all it holds, as render_markup writes it; "" when left out.
std::string render_element_markup(const document& doc, handle element,
                                  const render_markup_options& options = {});
// The opening tags of `element`'s ancestors, the root's first, and their closing
// tags; both empty when it is not in the document or an ancestor is left out.
struct markup_frame {
    std::string opening;
    std::string closing;
};
markup_frame render_ancestors_markup(const document& doc, handle element,
                                     const render_markup_options& options = {});

}  // namespace layout
