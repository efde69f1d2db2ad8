#pragma once
// The program's long-lived objects (model, controller, resources, view) are
// process-wide singletons: created on first use through instance(), deleted by
// destroy(), each step logged to "app" as "Singleton: <name> - created."/"deleted.".
//
//   class hrdModel : public hrd::whoami, public fml::singleton<hrdModel> {
//   public:
//       static constexpr const char* singleton_name = "model";
//   };

#include <memory>
#include <ostream>
#include <utility>

#include "fml/log.h"

namespace fml {

template <class T>
class singleton {
public:
    // The one object, created (and logged) on first use. A constructor that throws
    // leaves nothing behind, and the next call tries again.
    static T& instance() {
        auto& slot = storage();
        if (!slot) {
            slot = std::make_unique<T>();
            if (haslog("app")) {
                getlog("app") << "Singleton: " << T::singleton_name << " - created." << std::endl;
            }
        }
        return *slot;
    }

    // The one object, created (and logged) with these arguments unless it exists.
    template <class... Args>
    static T& create(Args&&... args) {
        auto& slot = storage();
        if (!slot) {
            slot = std::make_unique<T>(std::forward<Args>(args)...);
            if (haslog("app")) {
                getlog("app") << "Singleton: " << T::singleton_name << " - created." << std::endl;
            }
        }
        return *slot;
    }

    // Deletes the object if it exists. Shutdown calls these in a fixed order rather
    // than leaving it to static destruction, which would run after the logs close.
    static void destroy() {
        auto& slot = storage();
        if (slot) {
            slot.reset();
            if (haslog("app")) {
                getlog("app") << "Singleton: " << T::singleton_name << " - deleted." << std::endl;
            }
        }
    }

    static bool exists() noexcept { return storage() != nullptr; }

protected:
    singleton() = default;
    ~singleton() = default;

private:
    static std::unique_ptr<T>& storage() {
        static std::unique_ptr<T> object;
        return object;
    }
};

}  // namespace fml
