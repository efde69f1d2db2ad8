// A seeded random-input driver for the markup reader, the selector reader and
// the element-id reader. Inputs are built from fragments that real markup is
// made of, cut and mixed with random bytes, so that they reach deep into each
// reader. Checks what must hold for any input: no fault, writing is stable
// after one round, the patch stream rebuilds the tree, selectors run, ids
// read only in their one form.
//
// Usage: layout_fuzz [count [seed]]

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "layout/document.h"
#include "layout/dom.h"
#include "layout/element_id.h"
#include "layout/patch.h"
#include "layout/selector.h"

namespace {

constexpr const char* markup_pieces[] = {"<",
                                         ">",
                                         "</",
                                         "/>",
                                         "<div",
                                         "<tr>",
                                         "<td colspan=3>",
                                         "</td>",
                                         "<br>",
                                         "&amp;",
                                         "&#60;",
                                         "&#x1F600;",
                                         "&#",
                                         "&",
                                         "\"",
                                         "'",
                                         "=",
                                         " ",
                                         "id=q-7",
                                         "class='quote title'",
                                         "<!--",
                                         "-->",
                                         "<!DOCTYPE x>",
                                         "<style>",
                                         "</style>",
                                         "<script>",
                                         "</script>",
                                         "<table>",
                                         "</table>",
                                         "<li type=check>",
                                         "\xff",
                                         "\xc3\xa9",
                                         "\xed\xa0\x80",
                                         "\xf0\x9f\x98\x80",
                                         "text",
                                         "\n",
                                         "\0",
                                         "<?x?>",
                                         "<input value=a>",
                                         "</div>",
                                         "<p>",
                                         "</p>",
                                         "<x-y:z.a>",
                                         "<button menu=m>"};

constexpr const char* selector_pieces[] = {
    "div", "tr", "*", "#",  "q-7", ".",       "quote",   "[",     "]",
    "id",  "=",  "'", "\"", ":",   "current", "checked", "focus", "anchor",
    " ",   ">",  ",", "\\", "x",   "-",       "0",       "\xff",  "new_tr"};

template <std::size_t N>
std::string random_input(std::mt19937& random, const char* const (&pieces)[N],
                         std::size_t max_parts) {
    std::string out;
    const std::size_t parts = random() % max_parts;
    for (std::size_t i = 0; i < parts; ++i) {
        switch (random() % 4) {
            case 0:
                out += char(random() % 256);
                break;
            default: {
                const char* piece = pieces[random() % N];
                out += piece[0] ? std::string(piece) : std::string(1, '\0');
            }
        }
    }
    return out;
}

void fail(const char* what, const std::string& input) {
    std::fprintf(stderr, "layout_fuzz: %s for input of %zu bytes:\n", what, input.size());
    std::fwrite(input.data(), 1, input.size(), stderr);
    std::fputc('\n', stderr);
    // Kept whole, bytes and all, to replay it.
    if (std::FILE* file = std::fopen("layout_fuzz_failure.bin", "wb")) {
        std::fwrite(input.data(), 1, input.size(), file);
        std::fclose(file);
    }
    std::exit(1);
}

// Mirrors a document from its patch stream alone.
struct mirror final : layout::patch_observer {
    void on_patch(const layout::patch& change) override {
        failed |= !layout::apply_patch(copy, change);
    }
    layout::document copy;
    bool failed = false;
};

std::string whole_markup(layout::document& doc) {
    std::string out;
    for (layout::handle e = doc.root(); e; e = layout::next_sibling(e)) {
        out += *layout::get_html(e, true);
    }
    return out;
}

void fuzz_markup(layout::document& doc, layout::document& again, mirror& copy,
                 const std::string& input) {
    doc.load_html(input);
    layout::handle root = doc.root();
    std::string first;
    for (layout::handle e = root; e; e = layout::next_sibling(e)) {
        first += *layout::get_html(e, true);
    }
    // Written markup reads back to the same markup.
    again.load_html(first);
    std::string second;
    for (layout::handle e = again.root(); e; e = layout::next_sibling(e)) {
        second += *layout::get_html(e, true);
    }
    if (first != second) {
        fail("markup not stable after one round", input);
    }
    if (root) {
        layout::get_inner_text(root);
        layout::set_html(root, input, layout::html_place::insert_at_start);
        layout::set_html(layout::nth_child(root, 0), input, layout::html_place::insert_after);
        layout::delete_element(layout::nth_child(root, 0));
    }
    if (copy.failed || whole_markup(copy.copy) != whole_markup(doc)) {
        fail("the patch stream's mirror differs", input);
    }
}

void fuzz_selector(layout::document& doc, const std::string& input) {
    const auto selector = layout::parse_selector(input);
    std::size_t matches = 0;
    const bool ran = layout::select_elements(doc.root(), input, [&](layout::handle) {
        ++matches;
        return false;
    });
    if (doc.root() && ran != selector.has_value()) {
        fail("select_elements and parse_selector disagree", input);
    }
}

void fuzz_id(const std::string& input) {
    const auto number = layout::read_record_id(input, "q-");
    if (number) {
        // The one accepted form: the prefix and the number written plainly.
        if (input != "q-" + std::to_string(*number) || *number < 0) {
            fail("id read from a foreign form", input);
        }
    }
    layout::read_last_record_id(input);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    const unsigned seed = argc > 2 ? unsigned(std::atol(argv[2])) : 20261206u;
    std::mt19937 random(seed);

    layout::document selector_doc;
    selector_doc.load_html(
        "<div id=root class='page quote'><table id=t editable><tr id=q-7 new_tr><td>x</td></tr>"
        "</table><ul><li type=check id=mtmcheck-1>a</li></ul></div>");
    layout::set_state(layout::find_first(selector_doc.root(), "tr"), layout::state::current, 0,
                      false);

    layout::document doc;
    layout::document again;
    mirror copy;
    doc.set_observer(&copy);
    for (long i = 0; i < count; ++i) {
        switch (i % 3) {
            case 0:
                fuzz_markup(doc, again, copy, random_input(random, markup_pieces, 40));
                break;
            case 1:
                fuzz_selector(selector_doc, random_input(random, selector_pieces, 12));
                break;
            default: {
                std::string id = random() % 2 ? "q-" : "";
                id += random_input(random, selector_pieces, 4);
                if (random() % 3 == 0) {
                    id = "q-" + std::to_string(random() % 100000);
                }
                fuzz_id(id);
            }
        }
    }
    std::printf("layout_fuzz: %ld inputs, seed %u: no fault\n", count, seed);
    return 0;
}
