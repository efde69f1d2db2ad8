#pragma once

#include <string>

namespace hrd {

// Base of the model, the controller and the view: each says who it is.
class whoami {
public:
    virtual ~whoami() = default;
    // "model", "controller" or "view".
    virtual std::string name() const = 0;
};

}  // namespace hrd
