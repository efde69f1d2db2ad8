// Runs of operations the random driver found to keep nodes alive after their
// document and every reference were gone. Each starts from the driver's page.

#include <gtest/gtest.h>

#include <functional>

#include "layout/document.h"
#include "layout/dom.h"

using namespace layout;

namespace {

constexpr const char* page =
    "<html><body><table id=t editable><tr><td id=cell><div id=inner>a</div></td></tr></table>"
    "<ul id=m><li id=item type=check>x</li></ul><button menu=m>b</button></body></html>";

handle by_id(document& doc, const char* id) {
    return find_first(doc.root(), (std::string("#") + id).c_str());
}

// Runs `steps` on a fresh page; every node must be freed with the document.
void expect_all_freed(const std::function<void(document&)>& steps) {
    const std::size_t before = live_node_count();
    {
        document doc;
        doc.load_html(page);
        steps(doc);
    }
    EXPECT_EQ(live_node_count(), before);
}

}  // namespace

TEST(node_lifetime, removals_let_go_of_everything_the_document_held) {
    // A pop-up whose owner is removed closes and gives the focus back to where it
    // was before it opened; when that place is being removed too, the focus must
    // not land on it.
    expect_all_freed([](document& doc) {
        set_state(by_id(doc, "cell"), state::focus, 0, false);
        show_popup(by_id(doc, "item"), by_id(doc, "inner"), 2);
        set_state(by_id(doc, "item"), state::focus, 0, false);
        set_inner_text(by_id(doc, "t"), u"t");
        EXPECT_EQ(doc.focus(), nullptr);
    });
    // The same when the children of one element go at once: closing the pop-up
    // owned by one child must not hand the focus to a sibling that goes too.
    expect_all_freed([](document& doc) {
        set_state(by_id(doc, "t"), state::focus, 0, false);
        show_popup(doc.root(), by_id(doc, "m"), 2);
        set_state(doc.root(), state::focus, 0, false);
        set_inner_text(find_first(doc.root(), "body"), u"t");
        EXPECT_EQ(doc.focus(), nullptr);
    });
}
