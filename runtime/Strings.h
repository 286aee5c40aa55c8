#pragma once
// Splitting text at a separator byte.

#include <string>
#include <vector>

namespace rt {

// The parts of text between the separators, empty ones included: "a,,b" gives a, "", b;
// "" gives one empty part.
std::vector<std::string> Split(const std::string& text, char sep);

} // namespace rt
