#pragma once
// The few file-system operations the program needs, on wide (UTF-16) paths.

#include <string>
#include <string_view>

#include "fml/exception.h"

namespace tinyfilesystem {

FML_DECLARE_EXCEPTION(filesystem_error, fml::exception);
FML_DECLARE_EXCEPTION(special_folder_error, filesystem_error);

// $XDG_DATA_HOME when set and absolute, else $HOME/.local/share; created 0700 when
// missing. Raises special_folder_error ("CSIDL_APPDATA error") when neither can be had.
std::u16string appdata_folder();
// Whether appdata_folder() can be had from the environment, without touching the disk.
bool appdata_folder_known() noexcept;

// The first entry of $XDG_DATA_DIRS (default "/usr/local/share:/usr/share") that holds
// a "Hoardly" folder, else the first absolute entry.
std::u16string common_appdata_folder();

// Existence checks; any failure (missing, no access) reads as absent. Symlinks are followed.
bool file_exists(std::u16string_view path) noexcept;
bool dir_exists(std::u16string_view path) noexcept;

// `dir` + "/" + `name`, without doubling a separator `dir` already ends with.
std::u16string join_path(std::u16string_view dir, std::u16string_view name);

// Creates one directory with mode 0700. An existing directory is fine; anything else
// that is in the way, or a failure, raises filesystem_error with the path and errno text.
void create_directory(std::u16string_view path);

// Copies `from` to `to` when `to` does not exist yet: written under a temporary name
// beside `to`, synced, then renamed into place, so `to` is either whole or absent.
// Never replaces an existing `to`. Raises filesystem_error on failure (the temporary
// file is removed).
void copy_file_if_missing(std::u16string_view from, std::u16string_view to);

// The folder that holds the running executable.
std::u16string executable_folder();

}  // namespace tinyfilesystem
