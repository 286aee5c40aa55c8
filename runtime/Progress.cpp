#include "runtime/Progress.h"

#include "runtime/Errors.h"

#include <algorithm>
#include <climits>

namespace rt {

namespace {
const char* const kRangeMessage = "%d から %d の間の値でなければなりません";
}

void CheckProgressMin(int value, int max) {
    if (value > max) throw EInvalidOperation(Format(kRangeMessage, INT_MIN, max - 1));
}

void CheckProgressMax(int value, int min) {
    if (value < min) throw EInvalidOperation(Format(kRangeMessage, min + 1, INT_MAX));
}

void TProgressModel::SetMin(int value) {
    CheckProgressMin(value, Hi);
    Lo = value;
    Pos = std::max(Pos, Lo);
}

void TProgressModel::SetMax(int value) {
    CheckProgressMax(value, Lo);
    Hi = value;
    Pos = std::min(Pos, Hi);
}

void TProgressModel::SetPosition(int value) {
    Pos = std::clamp(value, Lo, Hi);
}

} // namespace rt
