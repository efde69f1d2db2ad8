#pragma once

namespace hrd {

// Creates the long-lived objects in their fixed order (model, controller, resources,
// view); each logs "Singleton: <name> - created.".
void create_singletons();
// Deletes every one that exists, in the reverse order, whatever path shutdown takes.
// Never re-creates one: it does not go through the accessors.
void delete_singletons() noexcept;

}  // namespace hrd
