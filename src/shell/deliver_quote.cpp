#include "shell/deliver_quote.h"

#include "controller/controller.h"
#include "fml/log.h"

namespace hrd {

void deliver_quote_text(std::u16string text) {
    fml::getlog("app") << "Captured text: " << text.size() << " characters" << std::endl;
    if (!hdcontroller::exists()) {
        return;  // shutting down
    }
    vcaction action;
    action.kind = vcaction::quote_text;
    action.params = &text;
    hdcontroller::instance().send_safely(action);
}

}  // namespace hrd
