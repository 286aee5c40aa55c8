#pragma once
// Conversion of the Japanese code page for display. Stored strings stay bytes; only what
// is shown to the user goes through here.

#include <string>

namespace rt {

// Shift-JIS (CP932, where 0x5C stays a backslash) to UTF-8. A byte that starts no valid
// character becomes U+FFFD and the conversion goes on, so the text always shows.
std::string Cp932ToUtf8(const std::string& bytes);

} // namespace rt
