#include "oxf/HostExchange.h"

#include <gtest/gtest.h>

using namespace Orvex;
using namespace Orvex::OXF;
using namespace Orvex::DataStorage;

TEST(HostExchange, StripeHeights) {
    EXPECT_EQ(stripeHeight(1000, 100000), 67136);
    EXPECT_EQ(stripeHeight(1000, 500), 500);
    EXPECT_EQ(stripeHeight(70000 * 2, 100000), 512);
    EXPECT_EQ(stripeHeight(1048624, 1000), 64); // exactly one block
    EXPECT_EQ(stripeHeight(size_t(1) << 30, 1000), 64);
}

TEST(HostExchange, ChannelCodes) {
    const int expected[][2] = {{1, 10}, {2, 4},  {3, 5},  {4, 6},  {5, 11}, {6, 12}, {7, 13}, {8, 14},
                               {9, 7},  {10, 8}, {11, 9}, {13, 1}, {14, 2}, {15, 3}, {12, 0}, {99, 0}};
    for (const auto& e : expected) EXPECT_EQ(channel_ds2oxf(e[0]), e[1]) << e[0];
}

TEST(HostExchange, DocumentFormatFollowsTheRequest) {
    HostRequest r{};
    r.width = 10;
    r.height = 5;
    r.bytesPerSample = 2;
    const std::pair<int, uint32_t> modes[] = {
        {ModeGrey, 0x2}, {ModeRGB, 0x1C}, {ModeCMYK, 0x1E0}, {ModeLab, 0xE00}};
    for (const auto& [mode, mask] : modes) {
        r.colorMode = int8_t(mode);
        r.hasTransparency = 0;
        setRunValues(r, "", {});
        EXPECT_EQ(dsChannelType(false).channelMask(), mask);
        EXPECT_EQ(dsChannelType(true).channelMask(), mask | 0x2000);
        EXPECT_EQ(dsChannelType(false).commonType(), TypeU16);
        r.hasTransparency = 1;
        setRunValues(r, "", {});
        EXPECT_EQ(dsChannelType(false).channelMask(), mask | 0x2000);
    }
    r.bytesPerSample = 3;
    setRunValues(r, "", {});
    EXPECT_EQ(dsChannelType(false).count(), 0);
    EXPECT_EQ(hostImageRect(), (RectI{0, 0, 10, 5}));
}

TEST(HostExchange, DocumentProfileChoice) {
    HostRequest r{};
    r.width = r.height = 1;
    r.bytesPerSample = 1;
    r.colorMode = ModeRGB;
    setRunValues(r, "", {});
    resetDocumentProfile();
    EXPECT_FALSE(DocumentProfile()); // RGB without a profile has none
    r.colorMode = ModeCMYK;
    setRunValues(r, "", {});
    resetDocumentProfile();
    EXPECT_EQ(DocumentProfile(), CMM::Profile::defaultProfile(CMM::ColorSpace::CMYK));
    // A generic sRGB profile gives way to the built-in one; a grey profile for a Lab document too.
    const QByteArray srgb = CMM::Profile::defaultProfile(CMM::ColorSpace::RGB)->iccBytes();
    r.colorMode = ModeRGB;
    setRunValues(r, "", std::vector<uint8_t>(srgb.begin(), srgb.end()));
    resetDocumentProfile();
    EXPECT_EQ(DocumentProfile(), CMM::Profile::defaultProfile(CMM::ColorSpace::RGB));
    r.colorMode = ModeLab;
    setRunValues(r, "", std::vector<uint8_t>(srgb.begin(), srgb.end()));
    resetDocumentProfile();
    EXPECT_EQ(DocumentProfile(), CMM::Profile::defaultProfile(CMM::ColorSpace::Lab));
    setRunValues(r, "", {1, 2, 3});
    resetDocumentProfile();
    EXPECT_EQ(DocumentProfile(), CMM::Profile::defaultProfile(CMM::ColorSpace::Lab));
}

namespace {
template <class T>
Ref<DataChannel> channelWith(int w, int h, std::initializer_list<std::pair<int, int>> points) {
    auto c = makeRef<DataChannel>(w, h, typeCodeOf<T>);
    for (const auto& [x, y] : points) c->template setValue<T>(x, y, T(1));
    return c;
}
} // namespace

TEST(HostExchange, BoundBoxInEveryType) {
    for (int type : {TypeU8, TypeU16, TypeF32}) {
        SCOPED_TRACE(type);
        Ref<DataChannel> c = type == TypeU8    ? channelWith<uint8_t>(300, 200, {{5, 7}, {250, 190}})
                             : type == TypeU16 ? channelWith<uint16_t>(300, 200, {{5, 7}, {250, 190}})
                                               : channelWith<float>(300, 200, {{5, 7}, {250, 190}});
        EXPECT_EQ(boundBox(*c, c->bounds(), RectI{}), (RectI{5, 7, 251, 191}));
        EXPECT_EQ(boundBox(*c, RectI{0, 0, 100, 100}, RectI{}), (RectI{5, 7, 6, 8}));
        EXPECT_EQ(boundBox(*c, RectI{0, 0, 100, 100}, RectI{50, 50, 60, 60}), (RectI{5, 7, 60, 60}));
        EXPECT_EQ(boundBox(*c, RectI{10, 10, 200, 100}, RectI{}), RectI{});
    }
    // Solid tiles count as a whole.
    auto solid = makeRef<DataChannel>(200, 200, TypeU8);
    const uint8_t one = 1;
    solid->fill(RectI{64, 64, 128, 128}, &one);
    EXPECT_EQ(boundBox(*solid, solid->bounds(), RectI{}), (RectI{64, 64, 128, 128}));
    auto opaque = makeRef<DataChannel>(4, 4, 3);
    EXPECT_THROW(boundBox(*opaque, opaque->bounds(), RectI{}), std::runtime_error);
}

TEST(HostExchange, NothingTravelsOutsideARun) {
    HostRequest r{};
    r.width = 4;
    r.height = 4;
    r.bytesPerSample = 1;
    r.colorMode = ModeRGB;
    setRunValues(r, "", {});
    Ref<DataChannel> out;
    // Transparency of a host without it is made here, opaque, without asking the master.
    ASSERT_TRUE(getChannel(out, 13, RectI{2, 2, 10, 10}));
    EXPECT_EQ(out->width(), 2);
    EXPECT_EQ(out->value<uint8_t>(1, 1), 255);
    EXPECT_FALSE(getChannel(out, 2, RectI{5, 5, 9, 9}));                     // entirely outside
    EXPECT_THROW(getChannel(out, 2, RectI{0, 0, 4, 4}), std::runtime_error); // no broker
    r.transparencyLocked = 1;
    setRunValues(r, "", {});
    EXPECT_TRUE(putChannel(*out, 13, RectI{0, 0, 4, 4})); // locked: nothing sent
    RectI box;
    EXPECT_FALSE(getMask(out, RectI{0, 0, 4, 4}, box, false)); // no selection
}

#include "oxf/RowStream.h"

TEST(HostExchange, RowsSurviveAnyBlockBoundary) {
    const size_t rowBytes = 7, rows = 13, total = rowBytes * rows;
    std::vector<uint8_t> source(total);
    for (size_t i = 0; i < total; ++i) source[i] = uint8_t(i * 5 + 1);
    for (size_t blockSize : {size_t(1), size_t(3), size_t(7), size_t(10), size_t(14), size_t(50), total}) {
        SCOPED_TRACE(blockSize);
        std::vector<uint8_t> stream(total), back(total, 0), scratch;
        std::vector<int> loads(rows, 0), stores(rows, 0);
        for (size_t offset = 0; offset < total; offset += blockSize) {
            const size_t length = std::min(blockSize, total - offset);
            OXF::Detail::fillRows(stream.data() + offset, offset, length, rowBytes, scratch,
                                  [&](uint8_t* target, size_t first, size_t count) {
                                      memcpy(target, source.data() + first * rowBytes, count * rowBytes);
                                      for (size_t k = 0; k < count; ++k) ++loads[first + k];
                                  });
        }
        EXPECT_EQ(stream, source);
        for (size_t offset = 0; offset < total; offset += blockSize) {
            const size_t length = std::min(blockSize, total - offset);
            OXF::Detail::takeRows(stream.data() + offset, offset, length, rowBytes, scratch,
                                  [&](const uint8_t* rowsIn, size_t first, size_t count) {
                                      memcpy(back.data() + first * rowBytes, rowsIn, count * rowBytes);
                                      for (size_t k = 0; k < count; ++k) ++stores[first + k];
                                  });
        }
        EXPECT_EQ(back, source);
        for (size_t r = 0; r < rows; ++r) EXPECT_EQ(stores[r], 1); // every row stored exactly once
    }
}

#include "oxf/InteractiveRun.h"

TEST(HostExchange, AWindowForAnImageBeyondTheMemoryIsRefusedBeforeAnyTransfer) {
    HostRequest request{};
    request.colorMode = ModeCMYK;
    request.bytesPerSample = 2;
    request.width = 46000;
    request.height = 46000; // about 140 GiB of working copies
    try {
        checkMemoryForWindow(request);
        FAIL() << "refused nothing";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("46000 x 46000 pixels needs about"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("MiB of memory are available"), std::string::npos) << e.what();
    }
    request.width = request.height = 1; // a single pixel is always fine
    EXPECT_NO_THROW(checkMemoryForWindow(request));
}
