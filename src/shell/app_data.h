#pragma once

#include <string>

namespace hrd {

// The files a new user's data folder is seeded with from the shared copy.
inline constexpr const char16_t* seeded_files[] = {u"defaultquotes.xml", u"defaulttags.xml",
                                                   u"hoardly.fdb"};

// Prepares the per-user data folder (appdata + "/Hoardly") and returns it.
//
// A folder that already holds a collection ("hoardly.fdb") is left exactly as it is.
// Otherwise the folder and its "logs" are created (0700) and every seed file it
// lacks is copied from the shared copy, each whole or not at all; a file the user
// has is never replaced. Raises data_error ("Application data not exists") when
// there is neither a user folder nor a shared copy, and filesystem errors with
// their path when a folder or file cannot be made.
std::u16string init_app_data();

}  // namespace hrd
