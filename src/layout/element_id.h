#pragma once
// Reading record numbers back out of element ids such as "q-7" or "qt-7-12".

#include <cstdint>
#include <optional>
#include <string_view>

namespace layout {

// The number in `id` when it is `prefix` followed by a decimal number that fits
// a signed 32-bit integer: digits only, no sign, no blank, at most one leading
// zero ("0" itself). nullopt for anything else ("q-", "q-abc", "q-99999999999").
// The prefix includes its "-" ("q-"; "qt-7-" for a quote's tag).
std::optional<std::int32_t> read_record_id(std::string_view id, std::string_view prefix);

// The number after the last "-", under the same rules; for ids whose prefix
// is not known in advance.
std::optional<std::int32_t> read_last_record_id(std::string_view id);

}  // namespace layout
