// A seeded random-input driver for the markup reader, the selector reader and
// the element-id reader. Inputs are built from fragments that real markup is
// made of, cut and mixed with random bytes, so that they reach deep into each
// reader. Checks what must hold for any input: no fault, writing is stable
// after one round, the patch stream rebuilds the tree, selectors run, ids
// read only in their one form, and every node of a run of operations is freed
// once its document and references are gone.
//
// Usage: layout_fuzz [count [seed]]
// The seed may also come from HOARDLY_FUZZ_SEED (to replay a run); "rotating"
// picks one from the date, so that each day tries other inputs.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// What a run of operations did, named for a reader who wants to replay it.
std::string operation_log;

void fail(const char* what, const std::string& input) {
    std::fprintf(stderr, "layout_fuzz: %s for input of %zu bytes:\n", what, input.size());
    if (!operation_log.empty()) {
        std::fprintf(stderr, "operations:\n%s", operation_log.c_str());
    }
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

// Any element of the document, or nullptr.
layout::handle pick_element(std::mt19937& random, layout::document& doc) {
    std::vector<layout::handle> all;
    if (layout::handle root = doc.root()) {
        all.push_back(root);
        layout::select_elements(root, "*", [&](layout::handle e) {
            all.push_back(e);
            return false;
        });
    }
    return all.empty() || random() % 10 == 0 ? nullptr : all[random() % all.size()];
}

bool posting_proc(void*, layout::handle he, std::uint32_t group, void*) {
    if (group == layout::event_group::behavior_event) {
        layout::post_event(layout::parent(he), 0x101, he, 0);
        layout::delete_element(layout::nth_child(he, 0));
    }
    return false;
}

// A run of random operations on one document, with references held across
// removals; the mirror must follow and nothing may be used after it is freed.
void run_operations(std::mt19937& random, const std::string& fragment) {
    mirror copy;
    layout::document doc;
    doc.set_observer(&copy);
    doc.load_html(
        "<html><body><table id=t editable><tr><td><div>a</div></td></tr></table>"
        "<ul id=m><li type=check>x</li></ul><button menu=m>b</button></body></html>");
    std::vector<layout::handle> held;
    // Each draw is logged with the operation, so that a failing run can be
    // written down as a plain test.
    const auto draw = [&](unsigned range) {
        const unsigned value = random() % range;
        operation_log += " " + std::to_string(value);
        return value;
    };
    const auto name = [](layout::handle e) {
        return e ? "node " + std::to_string(layout::serial_of(e)) : std::string("nothing");
    };
    for (int step = 0; step < 12; ++step) {
        layout::handle e = pick_element(random, doc);
        const unsigned operation = random() % 12;
        operation_log += "  operation " + std::to_string(operation) + " on " + name(e) + ":";
        switch (operation) {
            case 0:
                layout::set_html(e, fragment, layout::html_place(draw(6)));
                break;
            case 1:
                layout::use(e);
                held.push_back(e);
                layout::delete_element(e);
                break;
            case 2: {
                const char* attribute = draw(2) ? "id" : "class";
                layout::set_attribute(
                    e, attribute, draw(3) ? std::optional<std::u16string_view>(u"q-7") : std::nullopt);
                break;
            }
            case 3: {
                const unsigned to_set = draw(0x8000);
                const unsigned to_clear = draw(0x8000);
                layout::set_state(e, to_set, to_clear, draw(2));
                break;
            }
            case 4:
                layout::set_inner_text(e, u"t<&>");
                break;
            case 5:
                layout::sort_elements(e, 0, draw(5), [](layout::handle a, layout::handle b) {
                    return int(layout::serial_of(b)) - int(layout::serial_of(a));
                });
                break;
            case 6: {
                const unsigned event = draw(6);
                const unsigned button = 1 + draw(2);
                doc.mouse_input(e, event, {1, 1}, button, draw(4));
                break;
            }
            case 7: {
                const unsigned event = draw(3);
                const unsigned key = draw(128);
                doc.key_input(event, key, draw(4));
                break;
            }
            case 8:
                layout::attach_event_handler(e, posting_proc, nullptr, layout::event_group::all);
                layout::send_event(e, 0x102, e, 0);
                break;
            case 9: {
                const layout::handle anchor = pick_element(random, doc);
                operation_log += " anchor " + name(anchor);
                layout::show_popup(e, anchor, 2);
                break;
            }
            case 10:
                layout::set_style_attribute(e, "width", u"3px");
                layout::set_timer(e, 0);
                break;
            default:
                if (!held.empty()) {
                    operation_log += " " + name(held.back());
                    layout::set_html(held.back(), fragment, layout::html_place::append);
                    layout::unuse(held.back());
                    held.pop_back();
                }
        }
        operation_log += "\n";
        doc.run_posted_events();
    }
    if (copy.failed || whole_markup(copy.copy) != whole_markup(doc)) {
        fail("the mirror lost track of a run of operations", fragment);
    }
    for (layout::handle e : held) {
        layout::unuse(e);
    }
}

void fuzz_operations(std::mt19937& random, const std::string& fragment) {
    operation_log.clear();
    const std::size_t nodes_before = layout::live_node_count();
    run_operations(random, fragment);
    if (layout::live_node_count() != nodes_before) {
        fail("nodes outlived their document and references", fragment);
    }
    operation_log.clear();
}

unsigned read_seed(const char* text) {
    if (std::strcmp(text, "rotating") == 0) {
        const auto days = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
        return unsigned(days.time_since_epoch().count()) * 2654435761u;
    }
    return unsigned(std::strtoul(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    const char* replay = std::getenv("HOARDLY_FUZZ_SEED");
    const unsigned seed = replay && *replay ? read_seed(replay)
                          : argc > 2        ? read_seed(argv[2])
                                            : 20261206u;
    // First, so that a run that dies still names what replays it.
    std::printf("layout_fuzz: seed %u (HOARDLY_FUZZ_SEED=%u replays it)\n", seed, seed);
    std::fflush(stdout);
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
        switch (i % 4) {
            case 0:
                fuzz_markup(doc, again, copy, random_input(random, markup_pieces, 40));
                break;
            case 1:
                fuzz_selector(selector_doc, random_input(random, selector_pieces, 12));
                break;
            case 2:
                if (i % 40 == 2) {  // whole documents are slower: fewer of them
                    fuzz_operations(random, random_input(random, markup_pieces, 12));
                }
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
