#pragma once
// The program's core put together without a window: logs, store, model, the real
// main document and view, and the controller with the real drag table.

#include <filesystem>
#include <memory>

#include "controller/controller.h"
#include "fml/app_dirs.h"
#include "fml/log.h"
#include "model/model.h"
#include "support/document_host.h"
#include "support/temp_dir.h"
#include "view/view.h"

namespace hrd::test {

// The seven logs, registered in a folder of their own for one test.
class test_logs {
public:
    explicit test_logs(const temp_dir& dir) {
        std::filesystem::create_directories(dir.file("logs"));
        app_dirs::set(app_dirs::DataDir, dir.wpath());
        for (const char* id : {"app", "profile", "debug", "events", "cntrl", "model", "logic"}) {
            fml::reglog(id, u"logs/" + fml::utf82wchar(id) + u".log");
        }
    }
    ~test_logs() { fml::closelogs(); }
    test_logs(const test_logs&) = delete;
    test_logs& operator=(const test_logs&) = delete;
};

inline std::string fast_temp_base() {
    return std::filesystem::is_directory("/dev/shm")
               ? "/dev/shm"
               : std::filesystem::temp_directory_path().string();
}

struct app_fixture {
    // `with_defaults`: the data folder gets the shipped default collection files.
    // `bindings`: the host that binds the document's behaviors (none by default).
    explicit app_fixture(bool with_defaults = true, layout::host* bindings = nullptr)
        : data(fast_temp_base()), logs(data), document(bindings) {
        if (with_defaults) {
            for (const char* name : {"defaulttags.xml", "defaultquotes.xml"}) {
                std::filesystem::copy_file(source_dir() + "/share/Hoardly/" + name,
                                           data.file(name));
            }
        }
        model = std::make_unique<hrdModel>(std::make_unique<CollectionStore>(data.wpath()));
        view = std::make_unique<hdview>(document.doc);
        model->set_view(view.get());
        controller = std::make_unique<hdcontroller>(
            *model, fml::utf82wchar(source_dir() + "/src/controller/dragmgr/DragMgr.xml"));
        model->handle(model_events::load_all{});
    }

    layout::handle by_id(const std::string& id) const {
        return layout::find_first(document.doc.root(), "[id='" + id + "']");
    }
    std::string log(const std::string& name) const {
        return read_file(data.file("logs/" + name + ".log"));
    }

    temp_dir data;
    test_logs logs;
    main_document document;
    std::unique_ptr<hrdModel> model;
    std::unique_ptr<hdview> view;
    std::unique_ptr<hdcontroller> controller;
};

}  // namespace hrd::test
