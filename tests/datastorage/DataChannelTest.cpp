#include "datastorage/DataStorage.h"
#include "mt/JobsPool.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;

namespace {

// Fills a buffer of w x h elements of 2 bytes with a pattern that has no uniform tile.
std::vector<uint16_t> pattern(int w, int h, uint16_t seed = 1) {
    std::vector<uint16_t> v(size_t(w) * h);
    for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t(i * 2654435761u + seed);
    return v;
}

Ref<DataChannel> channelWith(int w, int h, const std::vector<uint16_t>& data) {
    auto channel = makeRef<DataChannel>(w, h, TypeU16);
    setData(*channel, RectI{0, 0, w, h}, data.data(), 0);
    return channel;
}

} // namespace

TEST(DataChannel, GeometryOfNewChannels) {
    DataChannel wide(65, 1, TypeU8);
    EXPECT_EQ(wide.tilesX(), 2u);
    EXPECT_EQ(wide.tilesY(), 1u);
    EXPECT_EQ(wide.tileRect(1), (RectI{64, 0, 65, 1}));
    DataChannel empty;
    EXPECT_EQ(empty.tileCount(), 0u);
    EXPECT_EQ(empty.type(), TypeU8);
    DataChannel negative(-5, 10, TypeU8);
    EXPECT_TRUE(negative.isEmpty());
    EXPECT_EQ(negative.tileCount(), 0u);
}

TEST(DataChannel, ElementSizeZeroThrowsTheFixedText) {
    for (int32_t type : {0, -5, -100}) {
        try {
            DataChannel channel(10, 10, type);
            FAIL() << "no exception for type " << type;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "DataChannel with element size = 0");
        }
    }
}

TEST(DataChannel, NewChannelsShareThePoolZeroTile) {
    auto a = makeRef<DataChannel>(4000, 3000, TypeU8);
    auto b = makeRef<DataChannel>(10, 10, TypeU8);
    const TileRecord* zero = a->tileAt(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_TRUE(zero->isPooled());
    EXPECT_EQ(zero->state(), TileState::Solid);
    EXPECT_EQ(a->tileAt(a->tileCount() - 1), zero);
    EXPECT_EQ(b->tileAt(0), zero);
    EXPECT_EQ(a->pooledTileCount(), a->tileCount());
    EXPECT_EQ(a->value<uint8_t>(3999, 2999), 0);
    EXPECT_NE(a->tag(), b->tag());
}

TEST(DataChannel, WritingOneElementMakesOnlyThatTilePrivate) {
    auto channel = makeRef<DataChannel>(200, 130, TypeU16);
    const TileRecord* zero = channel->tileAt(0);
    channel->setValue<uint16_t>(70, 5, 1234); // tile 1
    EXPECT_EQ(channel->value<uint16_t>(70, 5), 1234);
    EXPECT_EQ(channel->value<uint16_t>(71, 5), 0);
    for (uint32_t n = 0; n < channel->tileCount(); ++n) {
        if (n == 1)
            EXPECT_NE(channel->tileAt(n), zero);
        else
            EXPECT_EQ(channel->tileAt(n), zero) << n;
    }
    EXPECT_FALSE(channel->tileAt(1)->isPooled());
    EXPECT_EQ(channel->tileAt(1)->shareCount(), 1u);
}

TEST(DataChannel, CloneSharesTilesUntilOneIsWritten) {
    const auto data = pattern(150, 100);
    auto original = channelWith(150, 100, data);
    auto copy = original->clone();
    for (uint32_t n = 0; n < original->tileCount(); ++n) {
        EXPECT_EQ(copy->tileAt(n), original->tileAt(n));
        EXPECT_EQ(original->tileAt(n)->shareCount(), 2u);
    }
    copy->setValue<uint16_t>(0, 0, 7);
    EXPECT_NE(copy->tileAt(0), original->tileAt(0));
    for (uint32_t n = 1; n < original->tileCount(); ++n) EXPECT_EQ(copy->tileAt(n), original->tileAt(n));
    EXPECT_EQ(original->value<uint16_t>(0, 0), data[0]);
    EXPECT_EQ(copy->value<uint16_t>(0, 0), 7);
    EXPECT_EQ(copy->value<uint16_t>(1, 0), data[1]);
    EXPECT_EQ(original->tileAt(0)->shareCount(), 1u);
}

TEST(DataChannel, UniformWritesCollapseToPoolTiles) {
    auto channel = makeRef<DataChannel>(130, 130, TypeU8); // tile 0 inner, tiles 1, 2 ... edges
    std::vector<uint8_t> sevens(64 * 64, 7);
    setData(*channel, RectI{0, 0, 64, 64}, sevens.data(), 64);
    // The inner tile is marked possibly solid by the writer and verified by the next reader.
    EXPECT_EQ(channel->value<uint8_t>(10, 10), 7);
    const TileRecord* inner = channel->tileAt(0);
    EXPECT_TRUE(inner->isPooled());
    EXPECT_EQ(inner->solidValue()[0], 7);
    // The same value elsewhere finds the very same pool tile.
    auto other = makeRef<DataChannel>(64, 64, TypeU8);
    setData(*other, RectI{0, 0, 64, 64}, sevens.data(), 64);
    EXPECT_EQ(other->value<uint8_t>(0, 0), 7);
    EXPECT_EQ(other->tileAt(0), inner);

    // An edge tile (2 x 2 inside the channel) is checked exactly when the writer leaves it.
    std::vector<uint8_t> fives(4, 5);
    setData(*channel, RectI{128, 128, 130, 130}, fives.data(), 2);
    EXPECT_TRUE(channel->tileAt(channel->tileCount() - 1)->isPooled());
    EXPECT_EQ(channel->value<uint8_t>(129, 129), 5);

    // Two values keep a tile ordinary.
    sevens[64 * 30 + 30] = 8;
    setData(*channel, RectI{0, 0, 64, 64}, sevens.data(), 64);
    EXPECT_EQ(channel->value<uint8_t>(30, 30), 8);
    EXPECT_FALSE(channel->tileAt(0)->isPooled());
    EXPECT_EQ(channel->tileAt(0)->state(), TileState::Ordinary);
}

TEST(DataChannel, UniformBordersWithADifferentMiddleStayOrdinary) {
    // The writer's quick check only looks at both ends of the tile; the reader's full check must
    // catch the difference in the middle.
    auto channel = makeRef<DataChannel>(128, 128, TypeU16);
    std::vector<uint16_t> tile(64 * 64, 300);
    tile[64 * 32 + 5] = 301;
    setData(*channel, RectI{64, 64, 128, 128}, tile.data(), 0);
    EXPECT_EQ(channel->value<uint16_t>(64 + 5, 64 + 32), 301);
    EXPECT_EQ(channel->value<uint16_t>(64, 64), 300);
    EXPECT_FALSE(channel->tileAt(3)->isPooled());
}

TEST(DataChannel, RectanglesRoundTripAcrossOddEdgeTiles) {
    std::mt19937 random(5);
    for (auto [w, h] : {std::pair{1, 1}, {65, 1}, {63, 65}, {200, 131}, {129, 64}}) {
        const auto data = pattern(w, h, uint16_t(w));
        auto channel = channelWith(w, h, data);
        std::vector<uint16_t> whole(size_t(w) * h);
        getData(*channel, RectI{0, 0, w, h}, whole.data(), 0);
        EXPECT_EQ(whole, data) << w << "x" << h;
        for (int trial = 0; trial < 20; ++trial) {
            const int l = int(random() % w), t = int(random() % h);
            const int r = l + 1 + int(random() % (w - l)), b = t + 1 + int(random() % (h - t));
            const unsigned stride = unsigned((r - l + 3) * 2);
            std::vector<uint16_t> part(size_t(r - l + 3) * (b - t), 0xEEEE);
            getData(*channel, RectI{l, t, r, b}, part.data(), stride);
            for (int y = t; y < b; ++y) {
                for (int x = l; x < r; ++x)
                    ASSERT_EQ(part[size_t(y - t) * (r - l + 3) + (x - l)], data[size_t(y) * w + x]);
                ASSERT_EQ(part[size_t(y - t) * (r - l + 3) + (r - l)], 0xEEEE) << "wrote into the stride gap";
            }
        }
    }
}

TEST(DataChannel, RectanglesOutsideOrInvertedAreClippedOrIgnored) {
    auto channel = makeRef<DataChannel>(10, 10, TypeU8);
    std::vector<uint8_t> buffer(400, 9);
    // Partly outside: the buffer still maps to the rectangle's top-left; only the inside is written.
    setData(*channel, RectI{-5, -5, 5, 5}, buffer.data(), 10);
    EXPECT_EQ(channel->value<uint8_t>(0, 0), 9);
    EXPECT_EQ(channel->value<uint8_t>(4, 4), 9);
    EXPECT_EQ(channel->value<uint8_t>(5, 5), 0);
    std::vector<uint8_t> out(100, 1);
    getData(*channel, RectI{-5, -5, 5, 5}, out.data(), 10);
    EXPECT_EQ(out[55], 9); // element (0, 0)
    EXPECT_EQ(out[0], 1);  // outside: untouched
    // Inverted, empty, entirely outside, null buffer: nothing happens.
    setData(*channel, RectI{8, 8, 2, 2}, buffer.data(), 10);
    setData(*channel, RectI{20, 20, 30, 30}, buffer.data(), 10);
    setData(*channel, RectI{0, 0, 10, 10}, nullptr, 10);
    getData(*channel, RectI{5, 5, 5, 9}, out.data(), 10);
    EXPECT_EQ(channel->value<uint8_t>(8, 8), 0);
    // A 0 x 0 channel ignores everything.
    DataChannel empty;
    setData(empty, RectI{0, 0, 10, 10}, buffer.data(), 10);
    getData(empty, RectI{0, 0, 10, 10}, out.data(), 10);
    EXPECT_FALSE(empty.readElement(0, 0, out.data()));
}

TEST(TileCursors, OutOfRangeTileGivesAnEmptyCursor) {
    auto channel = makeRef<DataChannel>(70, 70, TypeU8);
    TileReadOnly reader(*channel);
    EXPECT_TRUE(reader.switchTo(3));
    EXPECT_FALSE(reader.switchTo(4));
    EXPECT_FALSE(reader.isValid());
    EXPECT_EQ(reader.tileNum(), -1);
    TileReadWrite writer(*channel);
    EXPECT_FALSE(writer.switchTo(1000));
    EXPECT_EQ(writer.data(), nullptr);
}

TEST(TileCursors, ReadLockKeepsATileAliveAfterItsSlotIsReplaced) {
    auto channel = makeRef<DataChannel>(64, 64, TypeU8);
    channel->setValue<uint8_t>(3, 3, 42);
    TileReadOnly reader(*channel);
    reader.switchTo(0);
    const TileRecord* tile = reader.tile();
    const uint8_t nine = 9;
    channel->fill(&nine); // the slot now holds the pool tile of 9: the old tile has no share left
    EXPECT_TRUE(channel->tileAt(0)->isPooled());
    EXPECT_EQ(tile->shareCount(), 0u);
    EXPECT_EQ(tile->readLocks(), 1u);
    EXPECT_EQ(reader.element(3, 3)[0], 42);
    EXPECT_EQ(reader.element(4, 3)[0], 0);
    reader.release(); // frees the tile (the sanitizer build checks the bookkeeping)
    EXPECT_EQ(channel->value<uint8_t>(3, 3), 9);
}

TEST(CopyChannel, AlignedTilesAreSharedAndTheRestCopied) {
    const auto data = pattern(300, 200);
    auto source = channelWith(300, 200, data);
    auto target = makeRef<DataChannel>(300, 200, TypeU16);
    ASSERT_TRUE(copyChannel(*target, *source, source->bounds()));
    for (uint32_t n = 0; n < source->tileCount(); ++n) EXPECT_EQ(target->tileAt(n), source->tileAt(n)) << n;

    // Shifted by a tile: shared again, one tile over.
    auto shifted = makeRef<DataChannel>(300, 200, TypeU16);
    ASSERT_TRUE(copyChannel(*shifted, *source, RectI{0, 0, 128, 64}, PointI{64, 64}));
    EXPECT_EQ(shifted->tileAt(shifted->tileIndexAt(64, 64)), source->tileAt(0));
    EXPECT_EQ(shifted->value<uint16_t>(64 + 127, 64 + 63), data[63 * 300 + 127]);
    EXPECT_EQ(shifted->value<uint16_t>(63, 63), 0);

    // Off the grid: copied element by element.
    auto odd = makeRef<DataChannel>(100, 100, TypeU16);
    ASSERT_TRUE(copyChannel(*odd, *source, RectI{10, 20, 110, 120}, PointI{-7, -13}));
    for (int y = 7; y < 100; y += 3)
        for (int x = 3; x < 100; x += 5) {
            const int sx = x + 7, sy = y + 13;
            const bool inside = sx >= 10 && sx < 110 && sy >= 20 && sy < 120;
            ASSERT_EQ(odd->value<uint16_t>(x, y), inside ? data[sy * 300 + sx] : 0) << x << "," << y;
        }
}

TEST(CopyChannel, ConvertsTypesAndRefusesOpaquePairs) {
    auto source = makeRef<DataChannel>(70, 70, TypeU8);
    source->setValue<uint8_t>(65, 66, 255);
    source->setValue<uint8_t>(1, 1, 128);
    auto reals = makeRef<DataChannel>(70, 70, TypeF32);
    ASSERT_TRUE(copyChannel(*reals, *source, source->bounds()));
    EXPECT_FLOAT_EQ(reals->value<float>(65, 66), 1.0f);
    EXPECT_FLOAT_EQ(reals->value<float>(1, 1), 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(reals->value<float>(0, 0), 0.0f);
    EXPECT_TRUE(reals->tileAt(1)->isPooled()); // solid zero source tile: no samples converted
    EXPECT_FALSE(reals->tileAt(0)->isPooled());

    auto opaque = makeRef<DataChannel>(70, 70, 4);
    EXPECT_FALSE(copyChannel(*opaque, *reals, reals->bounds()));
    EXPECT_EQ(opaque->pooledTileCount(), opaque->tileCount());

    DataChannel converted(*source, TypeU16);
    EXPECT_EQ(converted.value<uint16_t>(65, 66), 65535);
    EXPECT_EQ(converted.value<uint16_t>(1, 1), 128 * 257);
    EXPECT_TRUE(converted.tileAt(0) != source->tileAt(0));
    EXPECT_THROW(DataChannel(*source, 3), std::runtime_error);
}

TEST(CopyChannel, OverlappingCopyWithinOneChannelReadsTheOldSamples) {
    const auto data = pattern(100, 100);
    auto channel = channelWith(100, 100, data);
    ASSERT_TRUE(copyChannel(*channel, *channel, RectI{0, 0, 90, 90}, PointI{10, 10}));
    for (int y = 10; y < 100; y += 7)
        for (int x = 10; x < 100; x += 3)
            ASSERT_EQ(channel->value<uint16_t>(x, y), data[(y - 10) * 100 + (x - 10)]);
    EXPECT_EQ(channel->value<uint16_t>(5, 5), data[5 * 100 + 5]);
}

TEST(DataChannel, FillUsesPoolTilesForWholeTiles) {
    auto channel = makeRef<DataChannel>(100, 100, TypeU16);
    const uint16_t value = 999;
    channel->fill(RectI{0, 0, 100, 70}, &value);
    EXPECT_TRUE(channel->tileAt(0)->isPooled());
    EXPECT_EQ(channel->value<uint16_t>(99, 69), 999);
    EXPECT_EQ(channel->value<uint16_t>(99, 70), 0);
}

TEST(DataChannel, ParallelWritersOnDistinctTiles) {
    auto channel = makeRef<DataChannel>(640, 640, TypeU8);
    auto snapshot = channel->clone();
    parallelForTiles(channel->size(), channel->bounds(), [&](uint32_t tile, const RectI& area) {
        TileReadWrite writer(*channel);
        writer.switchTo(tile, TileReadWrite::Overwrite);
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) *writer.element(x, y) = uint8_t(x ^ y);
    });
    for (int y = 0; y < 640; y += 13)
        for (int x = 0; x < 640; x += 11) ASSERT_EQ(channel->value<uint8_t>(x, y), uint8_t(x ^ y));
    EXPECT_EQ(snapshot->value<uint8_t>(5, 9), 0);
}

TEST(DataChannel, SizesBeyondTheTileTableThrow) {
    EXPECT_THROW(DataChannel(std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), TypeU8),
                 std::length_error);
    EXPECT_THROW(PixelPlane(MaskRGB, TypeU8, SizeI{std::numeric_limits<int>::max(), 1 << 20}),
                 std::length_error);
}

TEST(DataChannel, ConcurrentCopyOnWriteAndVerificationOfSharedTiles) {
    // Uniform inner tiles written by hand are "possibly solid"; sharing them between channels and
    // reading and writing those channels from several threads exercises the share counts, the
    // copy on write and the verification race (the sanitizer builds check the bookkeeping).
    auto base = makeRef<DataChannel>(512, 512, TypeU16);
    std::vector<uint16_t> tile(64 * 64);
    for (uint32_t n = 0; n < base->tileCount(); ++n) {
        std::fill(tile.begin(), tile.end(), uint16_t(n % 3 == 0 ? 500 + n : n));
        if (n % 3 == 1) tile[100] = 1; // not uniform
        const RectI area = base->tileRect(n);
        setData(*base, area, tile.data(), 0);
    }
    std::vector<Ref<DataChannel>> copies;
    for (int i = 0; i < 8; ++i) copies.push_back(base->clone()); // 0-3 read, 4-7 written
    MT::JobsPool pool(2);
    MT::parallelFor(
        pool, 0, 8,
        [&](uint32_t first, uint32_t last) {
            for (uint32_t job = first; job < last; ++job) {
                DataChannel& channel = *copies[job];
                if (job < 4) { // readers
                    TileReadOnly reader(channel);
                    for (uint32_t n = 0; n < channel.tileCount(); ++n) reader.switchTo(n);
                } else { // writers: every other tile of their own copy
                    for (uint32_t n = job % 2; n < channel.tileCount(); n += 2) {
                        TileReadWrite writer(channel);
                        writer.switchTo(n);
                        writer.row<uint16_t>(0)[0] = uint16_t(job);
                    }
                }
            }
        },
        1, 0);
    for (uint32_t n = 0; n < base->tileCount(); ++n) {
        const RectI area = base->tileRect(n);
        const uint16_t expected = uint16_t(n % 3 == 0 ? 500 + n : n);
        EXPECT_EQ(base->value<uint16_t>(area.left + 5, area.top + 5), expected);
        for (uint32_t i = 0; i < 8; ++i) {
            const uint16_t corner = copies[i]->value<uint16_t>(area.left, area.top);
            const bool written = i >= 4 && (n % 2) == (i % 2);
            EXPECT_EQ(corner, written ? uint16_t(i) : expected) << "copy " << i << " tile " << n;
        }
        if (n % 3 == 0) {
            EXPECT_TRUE(base->tileAt(n)->isPooled()) << n;
        }
    }
}
