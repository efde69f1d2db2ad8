#include "shell/platform/qt/web_module_loader.h"

#include <dlfcn.h>

#include <exception>

#include "fml/text.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd::qt {
namespace {

const web_module* g_loaded = nullptr;

}  // namespace

const web_module* load_web_module(std::string& why) {
    if (g_loaded) {
        return g_loaded;
    }
    std::string path;
    try {
        path = fml::wchar2utf8(tinyfilesystem::executable_folder()) + "/" + web_module_file;
    } catch (const std::exception& e) {
        why = e.what();
        return nullptr;
    }
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = ::dlerror();
        why = error ? error : "cannot load " + path;
        return nullptr;
    }
    using entry_function = const web_module* (*)();
    auto entry = reinterpret_cast<entry_function>(::dlsym(library, "hoardly_web_module"));
    const web_module* module = entry ? entry() : nullptr;
    if (!module) {
        why = path + " is not Hoardly's web renderer";
        return nullptr;  // left loaded: it may have started threads of its own
    }
    if (module->version != web_module_version) {
        why = path + " belongs to another build of Hoardly";
        return nullptr;
    }
    g_loaded = module;
    return module;
}

const web_module* loaded_web_module() {
    return g_loaded;
}

}  // namespace hrd::qt
