// The model's command executor: each command runs its store operations, then tells
// the view what changed, then writes its line to the "model" log. The store always
// changes first, so a failing store call never leaves the view showing a change that
// did not happen.

#include <map>
#include <ostream>

#include "fml/log.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/output.h"

namespace hrd {
namespace {

std::ostream& model_log() {
    return fml::getlog("model");
}

template <class T>
const T& param_of(const model_event& event) {
    return *static_cast<const T*>(event.param);
}

// The names of the tags shown on a rebuilt quote list, each read once when first
// needed. Reading every tag record instead would load each tag's whole mark list
// (millions of marks in a large collection) just for its name.
class tag_table {
public:
    explicit tag_table(CollectionStore& store) : m_store(store) {}
    const tag* find(record_id id) {
        auto it = m_tags.find(id);
        if (it == m_tags.end()) {
            tag named;
            named.m_id = id;
            try {
                named.m_utfname = m_store.tag_utfname(id);
            } catch (const wrong_tag_id&) {
                return nullptr;  // gone: not shown
            }
            it = m_tags.emplace(id, std::move(named)).first;
        }
        return &it->second;
    }

private:
    CollectionStore& m_store;
    std::map<record_id, tag> m_tags;
};

}  // namespace

void hrdModel::show_search_mode() {
    const int mode = store().searchMode();
    show(vsearch_mode, &mode);
}

void hrdModel::show(std::int32_t id, const void* param) {
    if (m_view != nullptr) {
        m_view->handle(view_event{id, param});
    }
}

void hrdModel::show_quotes(std::unique_ptr<quote_cursor> quotes) {
    if (m_view == nullptr) {
        return;
    }
    tag_table names(*m_store);
    const view_quotes shown{quotes.get(), [&names](record_id id) { return names.find(id); }};
    show(vupdate_quotes, &shown);
}

void hrdModel::full_refresh() {
    show_quotes(m_store->isSearchEmpty() ? m_store->quotes() : m_store->searchQuotes());
}

void hrdModel::search_refresh() {
    show_quotes(m_store->searchQuotes());
}

// Takes the tag out of the search, the store, and every place it is shown. The quotes
// that carried it lose just that tag on screen; the list is rebuilt only when the
// search, and so its result, changed.
void hrdModel::remove_tag_everywhere(record_id id) {
    auto found = m_store->getTag(id);
    const std::vector<record_id> carriers = found->current().m_quotes;  // raises for a missing tag
    const bool searched = m_store->isTagUsedInSearch(id);
    if (searched) {
        m_store->removeSearchTag(id);
    }
    m_store->removeTag(id);
    if (searched) {
        show(vdelete_search_tag, &id);
    }
    for (record_id q : carriers) {
        const view_mark mark{q, id};
        show(vdelete_quote_tag, &mark);
    }
    show(vdelete_tag, &id);
    if (searched) {
        full_refresh();
    }
}

void hrdModel::refresh_view() {
    if (m_view == nullptr) {
        return;
    }
    auto tags = m_store->tags();
    show(vupdate_tags, tags.get());
    show(vclear_search_tags);
    for (record_id id : m_store->searchTags()) {
        auto found = m_store->getTag(id);
        if (!found->empty()) {
            show(vadd_search_tag, &found->current());
        }
    }
    full_refresh();
}

void hrdModel::handle(const model_event& event) {
    namespace ev = model_events;
    CollectionStore& store = *m_store;
    switch (event.id) {
        case ev::add_quote: {
            const record_id id = store.addQuote(param_of<std::u16string>(event));
            auto added = store.getQuote(id);
            show(vadd_quote, &added->current());
            model_log() << "add_quote complete; id: " << id << std::endl;
            return;
        }
        case ev::delete_quote: {
            const record_id id = param_of<record_id>(event);
            store.removeQuote(id);
            show(vdelete_quote, &id);
            show(vrefresh_quotes);
            model_log() << "delete_quote complete; id: " << id << std::endl;
            return;
        }
        case ev::delete_quotes: {
            const auto& ids = param_of<id_list>(event);
            for (record_id id : ids) {
                store.checkQuote(id);  // all or nothing: a stale id refuses the whole action
            }
            for (record_id id : ids) {
                store.removeQuote(id);
                show(vdelete_quote, &id);
            }
            // The rows are gone one by one; the rest of the list is still right.
            show(vrefresh_quotes);
            return;
        }
        case ev::add_tag: {
            const record_id id = store.addTag(param_of<std::u16string>(event));
            show(id == -1 ? vdelete_wrong_tag : vadd_tag_id, &id);
            model_log() << "add_tag complete; id: " << id << std::endl;
            return;
        }
        case ev::delete_tag: {
            const record_id id = param_of<record_id>(event);
            remove_tag_everywhere(id);
            model_log() << "delete_tag complete; id: " << id << std::endl;
            return;
        }
        case ev::delete_tags: {
            const auto& ids = param_of<id_list>(event);
            for (record_id id : ids) {
                store.checkTag(id);
            }
            for (record_id id : ids) {
                remove_tag_everywhere(id);
            }
            model_log() << "delete_tags complete; id: " << std::endl;
            return;
        }
        case ev::rename_tag: {
            const auto& rename = param_of<model_rename>(event);
            view_tag_on_quotes renamed;
            renamed.tag_id = rename.id;
            renamed.name = store.renameTag(rename.id, rename.name);
            renamed.quotes = store.getTag(rename.id)->current().m_quotes;
            const view_rename shown{rename.id, renamed.name};
            show(vrename_tag, &shown);
            if (store.isTagUsedInSearch(rename.id)) {
                const view_rename in_search{rename.id, renamed.name};
                show(vrename_search_tag, &in_search);
            }
            show(vrename_quote_tags, &renamed);
            model_log() << "rename_tag complete; id: " << rename.id << std::endl;
            return;
        }
        case ev::mark_quote: {
            const auto& mark = param_of<model_mark>(event);
            // The name is all the view needs: reading the tag's whole mark list would
            // make every mark cost as much as the tag is popular.
            tag marked;
            marked.m_id = mark.tag_id;
            marked.m_utfname = store.tag_utfname(mark.tag_id);  // raises for a missing tag
            if (store.markQuote(mark.quote_id, mark.tag_id)) {
                const view_quote_tag added{mark.quote_id, &marked};
                show(vadd_quote_tag, &added);
            }
            model_log() << "mark_quote complete; quote: " << mark.quote_id
                        << "; tag: " << mark.tag_id << std::endl;
            return;
        }
        case ev::delete_mark: {
            const auto& mark = param_of<model_mark>(event);
            store.unmarkQuote(mark.quote_id, mark.tag_id);
            const view_mark shown{mark.quote_id, mark.tag_id};
            show(vdelete_quote_tag, &shown);
            if (!store.isSearchEmpty()) {
                search_refresh();
            }
            model_log() << "delete_mark complete; quote: " << mark.quote_id
                        << "; tag: " << mark.tag_id << std::endl;
            return;
        }
        case ev::add_search_tag: {
            const record_id id = param_of<record_id>(event);
            tag searched;
            searched.m_id = id;
            searched.m_utfname = store.tag_utfname(id);  // raises for a missing tag
            if (store.addSearchTag(id)) {
                show(vadd_search_tag, &searched);
                search_refresh();
            }
            model_log() << "add_search_tag complete; id: " << id << std::endl;
            return;
        }
        case ev::add_search_tags: {
            const auto& ids = param_of<id_list>(event);
            std::vector<tag> searched;
            for (record_id id : ids) {
                searched.emplace_back().m_id = id;
                searched.back().m_utfname = store.tag_utfname(id);
            }
            bool added = false;
            for (const tag& t : searched) {
                if (store.addSearchTag(t.m_id)) {
                    show(vadd_search_tag, &t);
                    added = true;
                }
            }
            if (added) {
                search_refresh();
            }
            return;
        }
        case ev::delete_search_tag: {
            const record_id id = param_of<record_id>(event);
            store.removeSearchTag(id);
            show(vdelete_search_tag, &id);
            full_refresh();
            model_log() << "delete_search_tag complete; id: " << id << std::endl;
            return;
        }
        case ev::clear_search_tags:
            if (!store.isSearchEmpty()) {
                store.clearSearchTags();
                show(vclear_search_tags);
                search_refresh();
            }
            return;
        case ev::set_search_mode_and:
        case ev::set_search_mode_or:
            store.setSearchMode(event.id == ev::set_search_mode_and ? search_mode_and
                                                                    : search_mode_or);
            show_search_mode();
            if (!store.isSearchEmpty()) {
                search_refresh();
            }
            return;
        case ev::load_all: {
            auto tags = store.tags();
            show(vupdate_tags, tags.get());
            show_search_mode();
            show_quotes(store.quotes());
            return;
        }
        case ev::export_data:
            export_document(store, param_of<std::u16string>(event));
            return;
        case ev::copy_quote:
            m_clipboard->write_text(copy_quote_text(store, param_of<record_id>(event)));
            return;
        case ev::copy_quote_with_data:
            m_clipboard->write_text(copy_quote_with_data_text(store, param_of<record_id>(event)));
            return;
        case ev::copy_quotes:
        case ev::copy_quotes_with_data: {
            const auto& ids = param_of<id_list>(event);
            if (ids.empty()) {
                return;  // nothing selected: the user's clipboard stays as it is
            }
            m_clipboard->write_text(event.id == ev::copy_quotes
                                        ? copy_quotes_text(store, ids)
                                        : copy_quotes_with_data_text(store, ids));
            return;
        }
        default:
            throw wrong_event_id(std::to_string(event.id));
    }
}

bool hrdModel::handle_safely(const model_event& event) {
    try {
        handle(event);
        return true;
    } catch (const fml::exception& e) {
        try {
            fml::getlog("app") << "Error: " << e.what() << std::endl;
            // Whatever part of the command ran, the screen shows the store again.
            refresh_view();
        } catch (const std::exception& again) {
            if (fml::haslog("app")) {
                fml::getlog("app") << "Error: " << again.what() << std::endl;
            }
        }
        return false;
    }
}

}  // namespace hrd
