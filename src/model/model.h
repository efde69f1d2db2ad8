#pragma once
// The model: the one object the rest of the program asks to change or read the
// collection. It owns the store (and through it the open database) and the clipboard
// the copy commands write to.

#include <memory>
#include <string>

#include "fml/singleton.h"
#include "fml/whoami.h"
#include "model/clipboard.h"
#include "model/collection_store.h"

namespace hrd {

class hrdModel : public whoami, public fml::singleton<hrdModel> {
public:
    static constexpr const char* singleton_name = "model";

    // Opens the collection in DataDir. The store's errors pass through to the creator.
    hrdModel();
    // Takes an opened store; for tests and tools that work on another folder.
    explicit hrdModel(std::unique_ptr<CollectionStore> store);
    ~hrdModel() override;

    // Also the id of the log the model's command executor writes to.
    std::string name() const override { return "model"; }

    CollectionStore& store() { return *m_store; }

    // The clipboard the copy commands write to. Until the shell provides the system
    // clipboard, copies go to an in-memory one.
    void set_clipboard(std::unique_ptr<clipboard> clipboard);
    clipboard& the_clipboard() { return *m_clipboard; }

private:
    std::unique_ptr<CollectionStore> m_store;
    std::unique_ptr<clipboard> m_clipboard;
};

}  // namespace hrd
