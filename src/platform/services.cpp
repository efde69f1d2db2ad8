#include "platform/services.h"

namespace hrd {

platform_services& services() {
    static platform_services instance;
    return instance;
}

}  // namespace hrd
