#pragma once
// Splitting text at a separator byte.

#include <string>
#include <vector>

namespace rt {

// The parts of text between the separators, empty ones included: "a,,b" gives a, "", b;
// "" gives one empty part.
std::vector<std::string> Split(const std::string& text, char sep);

// Natural order without regard to ASCII case: runs of digits compare as numbers, so that
// C2 comes before c3 and c3 before C10.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace rt
