#pragma once
// The model: the one object the rest of the program asks to change or read the
// collection. It owns the store (and through it the open database) and the clipboard
// the copy commands write to.

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fml/singleton.h"
#include "fml/whoami.h"
#include "model/collection_store.h"
#include "model/model_events.h"
#include "model/search_worker.h"
#include "model/view_events.h"
#include "platform/clipboard.h"

namespace hrd {

class hrdModel : public whoami, public quote_reader, public fml::singleton<hrdModel> {
public:
    static constexpr const char* singleton_name = "model";

    // Opens the collection in DataDir. The store's errors pass through to the creator.
    hrdModel();
    // The same, telling `progress` how far the text index of an older file is built
    // (see CollectionStore).
    explicit hrdModel(index_progress progress);
    // Takes an opened store; for tests and tools that work on another folder.
    explicit hrdModel(std::unique_ptr<CollectionStore> store);
    ~hrdModel() override;

    // Also the id of the log the model's command executor writes to.
    std::string name() const override { return "model"; }

    CollectionStore& store() { return *m_store; }

    // Carries out one command: the store operations first, then the view events that
    // show their result, then a line in the "model" log. Raises the store's errors
    // (wrong_quote_id, ...); what was committed before the error stays committed.
    // Callers that must go on use handle_safely.
    void handle(const model_event& event);
    // handle(), but an error of the program's own is refused instead of raised:
    // "Error: ..." goes to the "app" log, the view is brought back in step with the
    // store, and false is returned.
    bool handle_safely(const model_event& event);

    // --- Questions the user interface asks before it asks for a change.
    // Whether a tag other than `own` (-1 for none) is named exactly `name`.
    bool tag_name_taken(std::u16string_view name, record_id own);
    // The tags every one of `quotes` carries, in the order the first one has them;
    // nothing when one of them is gone.
    std::optional<std::vector<record_id>> tags_on_all(const std::vector<record_id>& quotes);
    // Whether the quote carries the tag. Raises wrong_quote_id / wrong_tag_id when
    // either is gone.
    bool is_quote_marked(record_id quote, record_id tag);

    // --- The quote list's reads (quote_reader): the rows it shows, built as they
    // come into view. No log lines: the page asks for rows as it scrolls.
    std::vector<quote> read_quotes(std::span<const record_id> ids) override;
    std::optional<std::string> tag_name(record_id id) override;
    std::vector<record_id> order_by_time(std::span<const record_id> ids,
                                         bool oldest_first) override;

    // Where view events go; nullptr (the default) shows nothing.
    void set_view(view_target* view) { m_view = view; }
    view_target* view() const { return m_view; }
    // Rebuilds everything shown (tag list, search bar, quote list) from the store.
    void refresh_view();
    // Starts reading every quote's id on another thread, for the first list shown
    // (load_all): the program's start goes on meanwhile. A change to the store
    // before then makes it read again.
    void prefetch_quote_ids();

    // The clipboard the copy commands write to. Until the shell provides the system
    // clipboard, copies go to an in-memory one.
    void set_clipboard(std::unique_ptr<clipboard> clipboard);
    clipboard& the_clipboard() { return *m_clipboard; }

private:
    std::unique_ptr<CollectionStore> m_store;
    std::unique_ptr<clipboard> m_clipboard;
    view_target* m_view = nullptr;
    struct prefetched_ids {
        std::future<std::vector<record_id>> ids;
        std::int64_t stamp = 0;
    };
    prefetched_ids m_prefetched;
    // Every quote's id in table order, kept in step with the quotes the model adds
    // and removes, so that clearing a search shows a million quotes at once. Valid
    // while `stamp` is the store's change stamp; any other change reads it again.
    struct all_quotes {
        std::vector<record_id> ids;
        std::int64_t stamp = -1;
    };
    all_quotes m_all;
    // Each list shown counts one up: a search result of an older count is stale.
    std::uint64_t m_search_generation = 0;
    // Counts the changes that left the text index work to do: its upkeep waits for
    // a quiet moment after the last of them (tidy_when_quiet).
    std::uint64_t m_tidy_wait = 0;
    // Held by the model alone; work posted back from the search thread asks it
    // whether the model is still there.
    std::shared_ptr<hrdModel*> m_alive = std::make_shared<hrdModel*>(this);
    // Last, so it goes first: its thread ends before anything it reads.
    std::unique_ptr<search_worker> m_searcher;

    void show(const view_event& event);
    // Tells the view which search mode the mode buttons show.
    void show_search_mode();
    // Shows the quotes the search selects, newest on top. A search with text runs
    // on the search thread when the desktop takes work back (services().ui): the
    // list shows the result when it comes, unless a newer list came first.
    void show_quotes();
    void show_ids(std::vector<record_id> ids);
    void search_done(std::uint64_t generation, std::int64_t stamp, std::vector<record_id> ids,
                     const std::string& error);
    // Every quote's id in table order (m_all, brought up to date).
    const std::vector<record_id>& all_quote_ids();
    void full_refresh();
    void search_refresh();
    void remove_tag_everywhere(record_id id);
    // After a change, the store's index upkeep (CollectionStore::tidy_text_index) is
    // due once the user has left the program alone for a while; it then runs one
    // short step per turn of the event loop. Without the desktop's UI thread it waits
    // for the next start.
    void tidy_when_quiet();
    void tidy_step(std::uint64_t wait);
    // tidy_step(wait) as a task for the UI thread, which does nothing once the model is gone.
    std::function<void()> tidy_task(std::uint64_t wait);
    static constexpr std::chrono::milliseconds quiet_before_tidying{1500};
};

}  // namespace hrd
