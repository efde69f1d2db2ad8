#include "model/records.h"

#include <ctime>

namespace hrd {

time_stamp current_stamp() {
    return static_cast<time_stamp>(std::time(nullptr));
}

std::string formatStamp(time_stamp stamp) {
    if (stamp == no_stamp) {
        return {};
    }
    const std::time_t seconds = stamp;
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return {};
    }
    return std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_mday) + "  " + std::to_string(local.tm_hour) + ":" +
           std::to_string(local.tm_min) + ":" + std::to_string(local.tm_sec);
}

}  // namespace hrd
