#include "tests/engine/EngineFixture.h"

#include "engine/Plates.h"

#include <algorithm>

namespace enginetest {

using sample::PutBE16;
using sample::PutBE32;

std::vector<uint8_t> TSheetBuilder::Build() const {
    const size_t n = Entries.size(), s = Strips.size();
    const size_t tables = DirOffset + 2 + 12 * n + 4;
    size_t pos = tables + 8 * s;
    std::vector<uint32_t> stripAt;
    for (auto& st : Strips) {
        stripAt.push_back(uint32_t(pos));
        pos += st.size();
    }
    const size_t rationalsAt = pos;
    std::vector<uint8_t> f(rationalsAt + 8 * Rationals.size(), 0);
    f[0] = f[1] = LittleEndianMark ? 'I' : 'M';
    PutBE16(f, 2, 42);
    PutBE32(f, 4, DirOffset);
    if (LittleEndianMark) std::reverse(f.begin() + 4, f.begin() + 8);
    PutBE16(f, DirOffset, uint16_t(n));
    size_t at = DirOffset + 2;
    for (auto e : Entries) {
        if (e.Value >= RationalRef(0))
            e.Value = uint32_t(rationalsAt + 8 * (e.Value - RationalRef(0)));
        PutBE16(f, at, e.Tag);
        PutBE16(f, at + 2, e.Type);
        PutBE32(f, at + 4, e.Count);
        if (e.Type == 3 && e.Count == 1)
            PutBE16(f, at + 8, uint16_t(e.Value));
        else
            PutBE32(f, at + 8, e.Value);
        at += 12;
    }
    for (size_t i = 0; i < s; ++i) {
        PutBE32(f, tables + 4 * i, stripAt[i]);
        PutBE32(f, tables + 4 * (s + i), uint32_t(Strips[i].size()));
        std::copy(Strips[i].begin(), Strips[i].end(), f.begin() + stripAt[i]);
    }
    for (size_t i = 0; i < Rationals.size(); ++i) {
        PutBE32(f, rationalsAt + 8 * i, Rationals[i].first);
        PutBE32(f, rationalsAt + 8 * i + 4, Rationals[i].second);
    }
    return f;
}

TSheetBuilder TSheetBuilder::Basic(uint32_t width, uint32_t height,
                                   std::vector<std::vector<uint8_t>> strips, uint16_t compression) {
    TSheetBuilder b;
    b.Entries = {{256, 4, 1, width},          {257, 4, 1, height},
                 {259, 3, 1, compression},    {273, 4, uint32_t(strips.size()), 0},
                 {282, 5, 1, RationalRef(0)}, {283, 5, 1, RationalRef(1)}};
    b.Strips = std::move(strips);
    b.Rationals = {{254, 1}, {254, 1}};
    return b;
}

int PlateOf(uint8_t v, const std::array<bool, 9>& visible) {
    int best = 0;
    for (int k = 1; k <= 8; ++k)
        if (visible[size_t(k)] && (v >> (k - 1) & 1)) best = k;
    return best;
}

std::string EngineTest::Put(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string p = Dir.File(name);
    testing_support::WriteAll(p, bytes);
    return p;
}

std::string EngineTest::PutSample(const std::string& name, const sample::TRaster& r,
                                  const sample::TSheetOptions& o) const {
    return Put(name, sample::BuildSheet(r, o));
}

std::array<rt::TColor, 9> ViewerColours() {
    return plates::kDefaultColors;
}

std::array<bool, 9> AllVisible() {
    std::array<bool, 9> v{};
    for (int k = 1; k <= 8; ++k) v[size_t(k)] = true;
    return v;
}

} // namespace enginetest
