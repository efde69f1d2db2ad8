#include "shell/deliver_quote.h"

#include "controller/controller.h"
#include "fml/log.h"
#include "fml/text.h"
#include "platform/services.h"
#include "shell/command_line.h"

namespace hrd {
namespace {

bool mentions(const std::string& error, const char* words) {
    return error.find(words) != std::string::npos;
}

}  // namespace

std::u16string not_kept_message(std::size_t length, const std::string& error) {
    std::string why;
    if (mentions(error, "database or disk is full")) {
        why = "the disk is full. Free some space, then capture it again.";
    } else if (mentions(error, "readonly") || mentions(error, "read-only")) {
        why = "the collection file cannot be written to.";
    } else if (mentions(error, "disk I/O error")) {
        why = "the collection file could not be written (a disk error).";
    } else if (mentions(error, "string or blob too big")) {
        why = "it is too large to keep.";
    } else {
        why = "something went wrong (" + error + ").";
    }
    return fml::utf82wchar("The text you captured (" + std::to_string(length) +
                           " characters) was NOT kept: " + why);
}

std::string deliver_quote_text(hdcontroller& controller, user_notice* notice, std::u16string text) {
    const std::size_t length = text.size();
    std::string refusal;
    if (length > max_quote_units) {
        refusal = "string or blob too big (more than " + std::to_string(max_quote_units) +
                  " characters)";
    } else {
        vcaction action;
        action.what = vcaction::quote_text{std::move(text)};
        // The log says what happened, after it happened: a capture is told as kept
        // only once the store has committed it.
        if (controller.send_safely(action, refusal)) {
            fml::getlog("app") << "Captured text: " << length << " characters" << std::endl;
            return {};
        }
        if (refusal.empty()) {
            refusal = "the text was refused";
        }
    }
    fml::getlog("app") << "Captured text NOT kept (" << length << " characters): " << refusal
                       << std::endl;
    if (notice != nullptr) {
        notice->warn(u"Hoardly did not keep your text", not_kept_message(length, refusal));
    }
    return refusal;
}

std::string deliver_quote_text(std::u16string text) {
    if (!hdcontroller::exists()) {
        fml::getlog("app") << "Captured text NOT kept (" << text.size()
                           << " characters): Hoardly is closing" << std::endl;
        return "Hoardly is closing";
    }
    return deliver_quote_text(hdcontroller::instance(), services().notice, std::move(text));
}

}  // namespace hrd
