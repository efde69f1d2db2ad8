#include "behaviors/registry.h"

#include "behaviors/program_behaviors.h"

namespace hrd {

void register_program_behaviors() {
    // Each call only pulls its file, with its static behavior objects, into the
    // program; the objects registered themselves when they were built.
    link_quote_behaviors();
    link_tag_behaviors();
    link_small_behaviors();
    link_grid_behaviors();
}

}  // namespace hrd
