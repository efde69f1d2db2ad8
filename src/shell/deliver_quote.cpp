#include "shell/deliver_quote.h"

#include "fml/log.h"

namespace hrd {

void deliver_quote_text(std::u16string text) {
    fml::getlog("app") << "Captured text: " << text.size() << " characters" << std::endl;
}

}  // namespace hrd
