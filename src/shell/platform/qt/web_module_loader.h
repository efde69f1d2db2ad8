#pragma once
// Finds and loads the web renderer's module (web_module.h) from the program's own
// folder, before the QApplication exists: Qt WebEngine sets itself up as the
// application starts, as if it were linked.

#include <string>

#include "shell/platform/qt/web_module.h"

namespace hrd::qt {

inline constexpr const char* web_module_file = "libhoardly-web.so";

// The module, or null with `why` telling what is missing or wrong with it. Once
// loaded it stays: Qt's libraries are never unloaded.
const web_module* load_web_module(std::string& why);
// What load_web_module() loaded, or null.
const web_module* loaded_web_module();

}  // namespace hrd::qt
