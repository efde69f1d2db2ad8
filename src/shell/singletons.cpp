#include "shell/singletons.h"

#include <exception>
#include <iostream>

#include "shell/resource_mgr.h"

namespace hrd {

void create_singletons(const std::function<void()>& before_view) {
    ResourceMgr::instance();
    before_view();
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
    destroy(after_view);
    destroy([] { ResourceMgr::destroy(); });
}

}  // namespace hrd
