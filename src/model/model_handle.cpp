// The model's command executor: each command runs its store operations, then tells
// the view what changed, then writes its line to the "model" log. The store always
// changes first, so a failing store call never leaves the view showing a change that
// did not happen.

#include <algorithm>
#include <ostream>
#include <span>
#include <utility>
#include <variant>

#include "fml/log.h"
#include "fml/overloaded.h"
#include "model/errors.h"
#include "model/model.h"
#include "model/output.h"
#include "platform/services.h"

namespace hrd {
namespace {

std::ostream& model_log() {
    return fml::getlog("model");
}

}  // namespace

void hrdModel::show_search_mode() {
    show(view_events::search_mode{store().searchMode()});
}

void hrdModel::show(const view_event& event) {
    if (m_view != nullptr) {
        m_view->handle(event);
    }
}

void hrdModel::show_quotes() {
    if (m_view == nullptr) {
        return;
    }
    const std::uint64_t generation = ++m_search_generation;
    // Ids only: the rows are read as they come into view.
    if (m_store->isSearchEmpty()) {
        show_ids(all_quote_ids());
        return;
    }
    ui_thread* ui = services().ui;
    if (ui == nullptr || m_store->currentSearch().text.empty()) {
        show_ids(m_store->searchQuoteIds());
        return;
    }
    if (!m_searcher) {
        m_searcher = std::make_unique<search_worker>();
    }
    m_searcher->start(
        [path = m_store->database_path(),
         query = m_store->currentSearch()](const std::atomic<bool>& cancel) {
            return CollectionStore::search_ids_apart(path, query, cancel);
        },
        [ui, alive = std::weak_ptr<hrdModel*>(m_alive), generation,
         stamp = m_store->change_stamp()](std::vector<record_id> ids, std::string error) {
            ui->post([alive, generation, stamp, ids = std::move(ids),
                      error = std::move(error)]() mutable {
                if (const auto model = alive.lock()) {
                    (*model)->search_done(generation, stamp, std::move(ids), error);
                }
            });
        });
}

void hrdModel::show_ids(std::vector<record_id> ids) {
    std::reverse(ids.begin(), ids.end());  // the newest quote on top
    show(view_events::update_quotes{std::move(ids), this});
}

void hrdModel::search_done(std::uint64_t generation, std::int64_t stamp,
                           std::vector<record_id> ids, const std::string& error) {
    if (generation != m_search_generation || m_view == nullptr) {
        return;  // a newer list was asked for meanwhile
    }
    if (!error.empty()) {
        if (fml::haslog("app")) {
            fml::getlog("app") << "Error: " << error << std::endl;
        }
        return;  // the list stays as it was
    }
    if (stamp != m_store->change_stamp()) {
        show_quotes();  // the collection changed while it was searched: again
        return;
    }
    show_ids(std::move(ids));
}

const std::vector<record_id>& hrdModel::all_quote_ids() {
    const std::int64_t now = m_store->change_stamp();
    prefetched_ids prefetched = std::exchange(m_prefetched, {});
    if (m_all.stamp == now) {
        return m_all.ids;
    }
    m_all.stamp = -1;
    if (prefetched.ids.valid() && prefetched.stamp == now) {
        try {
            m_all.ids = prefetched.ids.get();
            m_all.stamp = now;
        } catch (const std::exception& e) {
            if (fml::haslog("app")) {
                fml::getlog("app") << "Error: " << e.what() << std::endl;  // read here instead
            }
        }
    }
    if (m_all.stamp != now) {
        m_all.ids = m_store->searchQuoteIds();  // the search is empty
        m_all.stamp = now;
    }
    return m_all.ids;
}

void hrdModel::prefetch_quote_ids() {
    m_prefetched = {m_store->read_all_quote_ids_apart(), m_store->change_stamp()};
}

void hrdModel::full_refresh() {
    show_quotes();
}

void hrdModel::search_refresh() {
    show_quotes();
}

// Takes the tag out of the search, the store, and every place it is shown. The quotes
// that carried it lose just that tag on screen; the list is rebuilt only when the
// search, and so its result, changed.
void hrdModel::remove_tag_everywhere(record_id id) {
    m_store->tag_utfname(id);  // raises for a missing tag
    const bool searched = m_store->isTagUsedInSearch(id);
    if (searched) {
        m_store->removeSearchTag(id);
    }
    m_store->removeTag(id);
    if (searched) {
        show(view_events::delete_search_tag{id});
    }
    show(view_events::delete_tag{id});
    if (searched) {
        full_refresh();
    }
}

void hrdModel::refresh_view() {
    if (m_view == nullptr) {
        return;
    }
    show(view_events::update_tags{m_store->tag_names()});
    show(view_events::clear_search_tags{});
    for (record_id id : m_store->searchTags()) {
        auto found = m_store->getTag(id);
        if (!found->empty()) {
            show(view_events::add_search_tag{found->current()});
        }
    }
    full_refresh();
}

void hrdModel::handle(const model_event& event) {
    namespace ev = model_events;
    namespace vev = view_events;
    CollectionStore& store = *m_store;
    // The list of every quote follows the commands that add and remove quotes; what
    // else a command changes leaves it right. A command that fails leaves it to be
    // read again.
    const bool all_in_step = m_all.stamp == store.change_stamp();
    const auto forget_quotes = [&](const id_list& gone) {
        if (all_in_step) {
            std::vector<record_id> sorted(gone);
            std::sort(sorted.begin(), sorted.end());
            std::erase_if(m_all.ids, [&](record_id id) {
                return std::binary_search(sorted.begin(), sorted.end(), id);
            });
            m_all.stamp = store.change_stamp();
        }
    };
    // All copies of a list go as one text; nothing selected leaves the user's
    // clipboard as it is.
    const auto copy_list =
        [&](const id_list& ids,
            std::u16string (*text)(CollectionStore&, std::span<const record_id>)) {
            if (!ids.empty()) {
                m_clipboard->write_text(text(store, ids));
            }
        };
    const auto set_search_mode = [&](int mode) {
        store.setSearchMode(mode);
        show_search_mode();
        if (!store.isSearchEmpty()) {
            search_refresh();
        }
    };
    std::visit(
        fml::overloaded{
            [&](const ev::add_quote& command) {
                const record_id id = store.addQuote(command.text);
                if (all_in_step) {
                    m_all.ids.push_back(id);
                    m_all.stamp = store.change_stamp();
                }
                auto added = store.getQuote(id);
                show(vev::add_quote{added->current()});
                model_log() << "add_quote complete; id: " << id << std::endl;
            },
            [&](const ev::delete_quote& command) {
                const record_id id = command.quote_id;
                store.removeQuote(id);
                forget_quotes({id});
                show(vev::delete_quotes{{id}});
                show(vev::refresh_quotes{});
                model_log() << "delete_quote complete; id: " << id << std::endl;
            },
            [&](const ev::delete_quotes& command) {
                // All or nothing: a stale id refuses the whole action.
                store.removeQuotes(command.quotes);
                forget_quotes(command.quotes);
                show(vev::delete_quotes{command.quotes});
                show(vev::refresh_quotes{});
            },
            [&](const ev::add_tag& command) {
                const record_id id = store.addTag(command.name);
                if (id == -1) {
                    show(vev::delete_wrong_tag{});
                } else {
                    show(vev::add_tag_id{id});
                }
                model_log() << "add_tag complete; id: " << id << std::endl;
            },
            [&](const ev::delete_tag& command) {
                remove_tag_everywhere(command.tag_id);
                model_log() << "delete_tag complete; id: " << command.tag_id << std::endl;
            },
            [&](const ev::delete_tags& command) {
                for (record_id id : command.tags) {
                    store.checkTag(id);
                }
                for (record_id id : command.tags) {
                    remove_tag_everywhere(id);
                }
                model_log() << "delete_tags complete; id: " << std::endl;
            },
            [&](const ev::rename_tag& command) {
                const tag_rename& rename = command.rename;
                vev::rename_quote_tags renamed;
                renamed.tag_id = rename.id;
                renamed.name = store.renameTag(rename.id, rename.name);
                show(vev::rename_tag{{rename.id, renamed.name}});
                if (store.isTagUsedInSearch(rename.id)) {
                    show(vev::rename_search_tag{{rename.id, renamed.name}});
                }
                show(std::move(renamed));
                model_log() << "rename_tag complete; id: " << rename.id << std::endl;
            },
            [&](const ev::mark_quote& command) {
                const quote_mark& mark = command.mark;
                // The name is all the view needs: reading the tag's whole mark list
                // would make every mark cost as much as the tag is popular.
                tag marked;
                marked.m_id = mark.tag_id;
                marked.m_utfname = store.tag_utfname(mark.tag_id);  // raises for a missing tag
                if (store.markQuote(mark.quote_id, mark.tag_id)) {
                    show(vev::add_quote_tag{mark.quote_id, &marked});
                }
                model_log() << "mark_quote complete; quote: " << mark.quote_id
                            << "; tag: " << mark.tag_id << std::endl;
            },
            [&](const ev::delete_mark& command) {
                const quote_mark& mark = command.mark;
                store.unmarkQuote(mark.quote_id, mark.tag_id);
                show(vev::delete_quote_tag{mark});
                if (!store.isSearchEmpty()) {
                    search_refresh();
                }
                model_log() << "delete_mark complete; quote: " << mark.quote_id
                            << "; tag: " << mark.tag_id << std::endl;
            },
            [&](const ev::mark_quotes& command) {
                tag marked;
                marked.m_id = command.tag_id;
                marked.m_utfname = store.tag_utfname(command.tag_id);  // raises for a missing tag
                const auto changed = store.markQuotes(command.quotes, command.tag_id);
                for (const record_id id : changed) {
                    show(vev::add_quote_tag{id, &marked});
                }
                model_log() << "mark_quotes complete; quotes: " << changed.size()
                            << "; tag: " << command.tag_id << std::endl;
            },
            [&](const ev::delete_marks& command) {
                const auto changed = store.unmarkQuotes(command.quotes, command.tag_id);
                for (const record_id id : changed) {
                    show(vev::delete_quote_tag{{id, command.tag_id}});
                }
                // One rebuild for the whole selection, and none when nothing changed.
                if (!changed.empty() && !store.isSearchEmpty()) {
                    search_refresh();
                }
                model_log() << "delete_marks complete; quotes: " << changed.size()
                            << "; tag: " << command.tag_id << std::endl;
            },
            [&](const ev::add_search_tag& command) {
                const record_id id = command.tag_id;
                tag searched;
                searched.m_id = id;
                searched.m_utfname = store.tag_utfname(id);  // raises for a missing tag
                if (store.addSearchTag(id)) {
                    show(vev::add_search_tag{searched});
                    search_refresh();
                }
                model_log() << "add_search_tag complete; id: " << id << std::endl;
            },
            [&](const ev::add_search_tags& command) {
                std::vector<tag> searched;
                for (record_id id : command.tags) {
                    searched.emplace_back().m_id = id;
                    searched.back().m_utfname = store.tag_utfname(id);
                }
                bool added = false;
                for (const tag& t : searched) {
                    if (store.addSearchTag(t.m_id)) {
                        show(vev::add_search_tag{t});
                        added = true;
                    }
                }
                if (added) {
                    search_refresh();
                }
            },
            [&](const ev::delete_search_tag& command) {
                const record_id id = command.tag_id;
                store.removeSearchTag(id);
                show(vev::delete_search_tag{id});
                full_refresh();
                model_log() << "delete_search_tag complete; id: " << id << std::endl;
            },
            [&](const ev::clear_search_tags&) {
                if (!store.isSearchEmpty()) {
                    store.clearSearchTags();
                    show(vev::clear_search_tags{});
                    search_refresh();
                }
            },
            [&](const ev::set_search_mode_and&) { set_search_mode(search_mode_and); },
            [&](const ev::set_search_mode_or&) { set_search_mode(search_mode_or); },
            [&](const ev::load_all&) {
                show(vev::update_tags{store.tag_names()});
                show_search_mode();
                show_quotes();
            },
            [&](const ev::export_data& command) { export_document(store, command.path); },
            [&](const ev::set_search_text& command) {
                store.setSearchText(command.text);
                show(vev::search_text{store.searchText()});
                search_refresh();
            },
            [&](const ev::sort_quotes& command) {
                show(vev::sort_quotes{command.oldest_first});
            },
            [&](const ev::copy_quote& command) {
                m_clipboard->write_text(copy_quote_text(store, command.quote_id));
            },
            [&](const ev::copy_quote_with_data& command) {
                m_clipboard->write_text(copy_quote_with_data_text(store, command.quote_id));
            },
            [&](const ev::copy_quotes& command) { copy_list(command.quotes, copy_quotes_text); },
            [&](const ev::copy_quotes_with_data& command) {
                copy_list(command.quotes, copy_quotes_with_data_text);
            },
        },
        event);
    if (all_in_step) {
        m_all.stamp = store.change_stamp();
    }
    tidy_when_quiet();
}

void hrdModel::tidy_when_quiet() {
    ui_thread* ui = services().ui;
    if (ui == nullptr || !m_store->untidy()) {
        return;
    }
    // Each change starts the wait again: a burst of captures is tidied after its last.
    ui->post_after(quiet_before_tidying, tidy_task(++m_tidy_wait));
}

std::function<void()> hrdModel::tidy_task(std::uint64_t wait) {
    return [alive = std::weak_ptr<hrdModel*>(m_alive), wait] {
        if (const auto model = alive.lock()) {
            (*model)->tidy_step(wait);
        }
    };
}

void hrdModel::tidy_step(std::uint64_t wait) {
    if (wait != m_tidy_wait) {
        return;  // a later change waits for its own quiet moment
    }
    bool more = false;
    try {
        more = m_store->tidy_text_index();
    } catch (const std::exception& e) {
        // Nothing is lost: the index stays right, only less tidy, and the next change
        // tries again.
        if (fml::haslog("app")) {
            fml::getlog("app") << "Error: " << e.what() << std::endl;
        }
        return;
    }
    if (more) {
        // One step at a time, with whatever the user does in between.
        services().ui->post(tidy_task(wait));
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
