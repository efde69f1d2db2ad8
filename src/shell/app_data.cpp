#include "shell/app_data.h"

#include "fml/text.h"
#include "shell/errors.h"
#include "tinyfilesystem/filesystem.h"

namespace hrd {

using namespace tinyfilesystem;

std::u16string init_app_data() {
    const std::u16string user = join_path(appdata_folder(), u"Hoardly");
    const std::u16string shared = join_path(common_appdata_folder(), u"Hoardly");

    // A collection already exists: this is not a first start.
    if (dir_exists(user) && file_exists(join_path(user, u"hoardly.fdb"))) {
        return user;
    }
    const bool have_shared = dir_exists(shared);
    if (!dir_exists(user) && !have_shared) {
        throw data_error("Application data not exists: neither \"" + fml::wchar2utf8(user) +
                         "\" nor the shared copy \"" + fml::wchar2utf8(shared) + "\" is a folder");
    }
    create_directory(user);
    create_directory(join_path(user, u"logs"));
    // Also finishes a first start that was interrupted before every file was in place.
    if (have_shared) {
        for (const char16_t* name : seeded_files) {
            const std::u16string from = join_path(shared, name);
            const std::u16string to = join_path(user, name);
            if (file_exists(from) && !file_exists(to)) {
                copy_file_if_missing(from, to);
            }
        }
    }
    return user;
}

}  // namespace hrd
