#pragma once
// The view: the only code that changes the collection's part of the document (tag
// list, quote list, search bar, manage-tags menu). The model tells it what changed
// through view events carrying the records or ids it needs; the view never reads
// the store.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "fml/exception.h"
#include "fml/singleton.h"
#include "fml/whoami.h"
#include "layout/element.h"
#include "layout/long_list.h"
#include "layout/types.h"
#include "model/records.h"
#include "model/result_set.h"
#include "model/view_events.h"
#include "view/fragments.h"

namespace layout {
class document;
}

namespace hrd {

// A row the user typed a new tag into was expected and is not there.
FML_DECLARE_EXCEPTION(cannot_find_fresh_tr, fml::exception);
// The document lacks one of the lists the view works on.
FML_DECLARE_EXCEPTION(view_init_error, fml::exception);

class hdview : public whoami, public view_target, public fml::singleton<hdview> {
public:
    static constexpr const char* singleton_name = "view";

    // Works on the main window's document (services().window).
    hdview();
    // Works on `doc`. Raises view_init_error, after logging it, when a list is missing.
    explicit hdview(layout::document& doc);
    ~hdview() override;
    hdview(const hdview&) = delete;
    hdview& operator=(const hdview&) = delete;

    std::string name() const override { return "view"; }

    // Carries out one view event, to the last engine call.
    void handle(const view_event& event) override;

    layout::handle root() const { return m_root; }
    layout::handle tag_list() const { return m_tag_list; }
    layout::handle quote_list() const { return m_quote_list; }
    layout::handle search_bar() const { return m_search_bar; }
    layout::handle manage_menu() const { return m_manage_menu; }

private:
    void add_quote(const quote& q);
    void delete_quotes(const std::vector<record_id>& ids);
    void add_tag_id(record_id id);
    void delete_tag(record_id id);
    void delete_wrong_tag();
    void start_tag_edit(layout::handle entry);
    void end_tag_edit(layout::handle entry);
    void rename_tag(const tag_rename& rename);
    void add_quote_tag(const view_events::add_quote_tag& added);
    void delete_quote_tag(const quote_mark& mark);
    void add_search_tag(const tag& t);
    void delete_search_tag(record_id id);
    void update_quotes(const view_events::update_quotes& quotes);
    void rename_search_tag(const tag_rename& rename);
    void rename_quote_tags(const view_events::rename_quote_tags& renamed);
    void update_tags(const std::vector<tag>& tags);
    void refresh_quotes();
    void clear_search_tags();
    void set_search_empty();
    void show_search_mode(int mode);
    void sort_quotes(bool oldest_first);
    void show_search_text(const std::u16string& text);

    layout::handle find_quote_block(record_id id) const;
    // The tag's entries on the quotes the list holds now, each held.
    std::vector<htmlayout::dom::element> quote_tags_shown(record_id tag_id) const;
    layout::handle links_cell(layout::handle block) const;
    layout::handle fresh_tag_row(const char* for_event) const;

    // The quote list: the ids of the quotes shown. The document holds rows only
    // for the few the page shows; they are built from here.
    class quote_rows final : public layout::row_source {
    public:
        std::size_t row_count() const override { return bottom_up.size(); }
        void append_rows(std::size_t first, std::size_t last, std::string& markup) override;
        std::int64_t row_key(std::size_t index) const override { return id_at(index); }
        record_id id_at(std::size_t index) const {
            return bottom_up[bottom_up.size() - 1 - index];
        }

        // Bottom to top, so a new quote on top is an append however long the list.
        std::vector<record_id> bottom_up;
        quote_reader* reader = nullptr;
        // The words of the search text, folded: rows mark where they hold them.
        std::vector<std::u32string> words;
    };

    layout::document& m_document;
    // Each held with a use reference for as long as the view lives.
    htmlayout::dom::element m_root;
    htmlayout::dom::element m_tag_list;
    htmlayout::dom::element m_quote_list;
    htmlayout::dom::element m_search_bar;
    htmlayout::dom::element m_manage_menu;
    quote_rows m_rows;
};

}  // namespace hrd
