#include "shell/singletons.h"

#include <exception>
#include <iostream>

#include "controller/controller.h"
#include "model/model.h"
#include "platform/services.h"
#include "shell/resource_mgr.h"
#include "view/view.h"

namespace hrd {
namespace {

// The model's copies go to whatever clipboard the desktop provides.
class desktop_clipboard final : public clipboard {
public:
    std::u16string read_text() override {
        return services().clip != nullptr ? services().clip->read_text() : m_fallback.read_text();
    }
    void write_text(std::u16string_view text) override {
        if (services().clip != nullptr) {
            services().clip->write_text(text);
        } else {
            m_fallback.write_text(text);
        }
    }

private:
    memory_clipboard m_fallback;
};

}  // namespace

void create_singletons(const std::function<void()>& before_view) {
    hrdModel& model = hrdModel::instance();
    model.set_clipboard(std::make_unique<desktop_clipboard>());
    hdcontroller::instance();
    ResourceMgr::instance();
    before_view();
    model.set_view(&hdview::instance());
}

void delete_singletons(const std::function<void()>& after_view) noexcept {
    // A failing destructor must not stop the rest of the teardown.
    auto destroy = [](auto&& destroy_one) {
        try {
            destroy_one();
        } catch (const std::exception& e) {
            std::cerr << "Error: " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "Unknown error." << std::endl;
        }
    };
    destroy([] {
        if (hrdModel::exists()) {
            hrdModel::instance().set_view(nullptr);
        }
        hdview::destroy();
    });
    destroy(after_view);
    destroy([] { ResourceMgr::destroy(); });
    destroy([] { hdcontroller::destroy(); });
    destroy([] { hrdModel::destroy(); });
}

}  // namespace hrd
