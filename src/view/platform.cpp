#include "view/platform.h"

namespace hrd {

platform_services& services() {
    static platform_services instance;
    return instance;
}

}  // namespace hrd
