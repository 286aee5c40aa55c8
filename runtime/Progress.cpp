#include "runtime/Progress.h"

#include "runtime/Errors.h"

#include <algorithm>
#include <climits>

namespace rt {

void TProgressModel::SetMin(int value) {
    if (value > Hi) throw EInvalidOperation(Format("%d から %d の間の値でなければなりません", INT_MIN, Hi - 1));
    Lo = value;
    Pos = std::max(Pos, Lo);
}

void TProgressModel::SetMax(int value) {
    if (value < Lo)
        throw EInvalidOperation(
            Format("%d から %d の間の値でなければなりません", Lo + 1, INT_MAX));
    Hi = value;
    Pos = std::min(Pos, Hi);
}

void TProgressModel::SetPosition(int value) { Pos = std::clamp(value, Lo, Hi); }

} // namespace rt
