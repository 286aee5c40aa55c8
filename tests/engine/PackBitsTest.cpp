// The PackBits decoder alone: packed bytes in, unpacked bytes out, state across chunks.

#include "engine/PackBits.h"
#include "tools/SampleSheet.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Decodes the stream cut into chunks at the given points, into rooms of the given size.
Bytes DecodeCut(const Bytes& packed, const std::vector<size_t>& cuts, size_t room,
                packbits::TState& st) {
    Bytes out, buf(room);
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(packed.size());
    for (size_t to : ends) {
        const uint8_t* p = packed.data() + from;
        const uint8_t* end = packed.data() + to;
        do {
            uint8_t* stop = packbits::Decode(p, end, buf.data(), buf.data() + room, st);
            out.insert(out.end(), buf.data(), stop);
        } while (p < end);
        from = to;
    }
    return out;
}

Bytes Decode(const Bytes& packed) {
    packbits::TState st;
    return DecodeCut(packed, {}, 4096, st);
}

} // namespace

TEST(PackBits, RunsLiteralsAndTheNoOp) {
    // (-2, 7) three 7s; literal of 2; -128 nothing; (0, 5) one 5; (-127, 1) 128 ones.
    const Bytes packed = {0xFE, 7, 0x01, 8, 9, 0x80, 0x00, 5, 0x81, 1};
    Bytes want(6 + 128, 1);
    const uint8_t head[] = {7, 7, 7, 8, 9, 5};
    std::copy(std::begin(head), std::end(head), want.begin());
    EXPECT_EQ(Decode(packed), want);
    packbits::TState st;
    EXPECT_EQ(packbits::Scan(packed.data(), packed.data() + packed.size(), st), want.size());
    EXPECT_EQ(packbits::Unfinished(st), 0u);
}

TEST(PackBits, EveryCutAndEveryRoomGivesTheSameBytes) {
    // Rows packed by the sample writer, literals included, cut at every point and decoded
    // into rooms from one run's length up: the bytes are those of one whole decode.
    sample::TRaster r = sample::PaintSample(300, 4, 5);
    Bytes packed;
    for (int y = 0; y < r.Height; ++y) sample::PackRow(r.Row(y), size_t(r.Width), true, packed);
    ASSERT_EQ(Decode(packed), r.Pixels);
    for (size_t cut = 0; cut <= packed.size(); cut += 7) {
        for (size_t room : {size_t(128), size_t(129), size_t(200), size_t(1000)}) {
            packbits::TState st;
            EXPECT_EQ(DecodeCut(packed, {cut}, room, st), r.Pixels) << cut << " " << room;
            EXPECT_EQ(packbits::Unfinished(st), 0u);
        }
        packbits::TState a, b;
        const uint64_t first = packbits::Scan(packed.data(), packed.data() + cut, a);
        EXPECT_EQ(first + packbits::Scan(packed.data() + cut, packed.data() + packed.size(), a),
                  r.Pixels.size());
        EXPECT_EQ(DecodeCut(packed, {cut, cut}, 128, b), r.Pixels); // an empty chunk too
    }
}

TEST(PackBits, WhatAStripsEndLeaves) {
    // A literal cut short gives what it had; a count byte without its value is unused.
    packbits::TState st;
    EXPECT_EQ(DecodeCut({0x04, 1, 2}, {}, 128, st), (Bytes{1, 2}));
    EXPECT_EQ(st.LiteralLeft, 3u);
    EXPECT_EQ(packbits::Unfinished(st), 0u);
    packbits::TState lone;
    EXPECT_EQ(DecodeCut({0xFF, 3, 0xFD}, {}, 128, lone), (Bytes{3, 3}));
    EXPECT_EQ(packbits::Unfinished(lone), 1u);
    // The value byte in the next chunk completes the run.
    EXPECT_EQ(DecodeCut({0xFD}, {}, 128, lone = {}), Bytes{});
    const Bytes next = {9};
    const uint8_t* p = next.data();
    uint8_t out[128];
    EXPECT_EQ(packbits::Decode(p, p + 1, out, out + 128, lone) - out, 4);
    EXPECT_EQ(Bytes(out, out + 4), Bytes(4, 9));
}

TEST(PackBits, ARunThatDoesNotFitWaitsForRoom) {
    const Bytes packed = {0xF9, 6, 0x00, 1};
    const uint8_t* p = packed.data();
    uint8_t out[16];
    packbits::TState st;
    // Room for 5 bytes: the run of 8 is left for later, nothing is lost.
    EXPECT_EQ(packbits::Decode(p, packed.data() + 4, out, out + 5, st), out);
    EXPECT_EQ(p, packed.data());
    EXPECT_EQ(packbits::Decode(p, packed.data() + 4, out, out + 16, st) - out, 9);
    EXPECT_EQ(Bytes(out, out + 9), (Bytes{6, 6, 6, 6, 6, 6, 6, 6, 1}));
}

TEST(PackBits, ScanCountsWhatDecodeWritesOnAnyBytes) {
    // Streams of runs with a literal, a no-op or a zero count now and then, in one piece and
    // cut anywhere: the quick count of runs must agree with the plain decode.
    std::mt19937 rng(7);
    for (int stream = 0; stream < 200; ++stream) {
        Bytes packed(size_t(rng() % 300));
        const unsigned odd = 1 + rng() % 40; // one count byte in odd is not a run
        for (size_t i = 0; i < packed.size(); ++i) {
            packed[i] = uint8_t(rng());
            if (i % 2 == 0 && rng() % odd != 0) packed[i] = uint8_t(0x81 + rng() % 128); // -127..0
        }
        const size_t want = Decode(packed).size();
        for (size_t cut = 0; cut <= packed.size(); cut += 1 + rng() % 9) {
            packbits::TState st;
            const uint64_t first = packbits::Scan(packed.data(), packed.data() + cut, st);
            ASSERT_EQ(first +
                          packbits::Scan(packed.data() + cut, packed.data() + packed.size(), st),
                      want)
                << stream << " cut at " << cut;
        }
    }
}

TEST(PackBits, TheQuickLoopWritesWhatThePlainWalkWritesOnAnyBytes) {
    // Units of every kind, runs and one-byte literals most often: decoded with room to spare
    // (the quick loop) and into a room of one run (the plain walk alone), the bytes agree.
    std::mt19937 rng(11);
    for (int stream = 0; stream < 300; ++stream) {
        Bytes packed(size_t(rng() % 400));
        const unsigned odd = 1 + rng() % 30;
        for (size_t i = 0; i < packed.size(); ++i) {
            packed[i] = uint8_t(rng());
            if (i % 2 == 0 && rng() % odd != 0)
                packed[i] = rng() % 3 ? uint8_t(0x81 + rng() % 127) : 0;
        }
        packbits::TState quick, plain;
        ASSERT_EQ(DecodeCut(packed, {}, 4096, quick), DecodeCut(packed, {}, 128, plain)) << stream;
        EXPECT_EQ(quick.Pending, plain.Pending);
        EXPECT_EQ(quick.LiteralLeft, plain.LiteralLeft);
    }
}
