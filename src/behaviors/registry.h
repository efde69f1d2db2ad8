#pragma once
// Makes sure every behavior of the program is registered before binding starts.

namespace hrd {

void register_program_behaviors();

}  // namespace hrd
