#pragma once
// Named log files under the data folder. A log is registered once at start-up,
// written with `getlog(id) << ... << std::endl` (one statement per line; the line
// end flushes, so every finished line is in the file at once), and closed at exit.

#include <ostream>
#include <string>
#include <string_view>

namespace fml {

// Opens DataDir + "/" + relative_path, truncated, mode 0600, and registers it under `id`.
// Raises reglog_error for an id already registered (the existing log stays usable)
// and cannot_open_log_error when the file cannot be opened (nothing is registered).
void reglog(const std::string& id, std::u16string_view relative_path);

// The stream of a registered log. Raises getlog_error for an unknown id.
std::ostream& getlog(std::string_view id);

// Whether `id` is registered; for writers that must not throw (error handlers, destructors).
bool haslog(std::string_view id) noexcept;

// Writes one line to the "app" log; does nothing while that log is not registered
// (before start-up has made it, in tests, after closelogs).
void app_line(std::string_view line);

// Flushes and closes every log, in the order they were registered; getlog fails afterwards.
void closelogs() noexcept;

}  // namespace fml
