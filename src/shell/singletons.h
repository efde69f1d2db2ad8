#pragma once

#include <functional>

namespace hrd {

// Creates the long-lived objects in their fixed order (model, controller, resources,
// view); each logs "Singleton: <name> - created.". `before_view` runs between the
// resources and the view (the desktop makes its window there).
void create_singletons(const std::function<void()>& before_view);
// Deletes every one that exists, in the reverse order, whatever path shutdown takes;
// `after_view` runs right after the view is gone (the desktop destroys its window).
// Never re-creates one: it does not go through the accessors.
void delete_singletons(const std::function<void()>& after_view) noexcept;

}  // namespace hrd
