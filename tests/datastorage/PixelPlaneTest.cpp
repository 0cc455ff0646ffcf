#include "datastorage/DataStorage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;

namespace {
std::vector<uint8_t> rgbaPattern(int w, int h) {
    std::vector<uint8_t> v(size_t(w) * h * 4);
    for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t((i * 7919u) >> 3);
    return v;
}
} // namespace

TEST(PixelFormat, LayoutAndCommonType) {
    const int32_t rgb[] = {2, 3, 4};
    PixelFormat format(rgb, 3, TypeU8);
    EXPECT_EQ(format.count(), 3);
    EXPECT_EQ(format.pixelSize(), 3u);
    EXPECT_EQ(format.offset(0), 0u);
    EXPECT_EQ(format.offset(1), 1u);
    EXPECT_EQ(format.offset(2), 2u);
    EXPECT_EQ(format.commonType(), TypeU8);
    EXPECT_EQ(format.indexOf(3), 1);
    EXPECT_EQ(format.indexOf(13), -1);
    ASSERT_TRUE(format.append(ChannelAlpha, TypeU16));
    EXPECT_EQ(format.commonType(), 0);
    EXPECT_EQ(format.pixelSize(), 5u);
    EXPECT_EQ(format.offset(3), 3u);
    EXPECT_EQ(format.channelMask(), MaskRGBA);
}

TEST(PixelFormat, ConstructionFromListsAndMasks) {
    const uint32_t list[] = {9, 10, 11, 13, EndOfChannels, 2};
    PixelFormat lab(list, TypeF32);
    EXPECT_EQ(lab.count(), 4);
    EXPECT_EQ(lab.pixelSize(), 16u);
    EXPECT_EQ(PixelFormat::fromMask(MaskLabA, TypeF32), lab);
    // At most 16 components are taken; identifiers past 30 and sizeless types are dropped.
    std::vector<uint32_t> many(20, 2);
    many.push_back(EndOfChannels);
    EXPECT_EQ(PixelFormat(many.data(), TypeU8).count(), 16);
    const int32_t bad[] = {31, -1, 2, 1000};
    EXPECT_EQ(PixelFormat(bad, 4, TypeU8).count(), 1);
    EXPECT_EQ(PixelFormat(bad, 4, 0).count(), 0);
    EXPECT_EQ(PixelFormat::fromMask(0xFFFFFFFFu, TypeU8).count(), 16); // ids 1 ... 16
    // A skipped component takes room but names no channel.
    const int32_t skip[] = {0, 2, 3, 4};
    PixelFormat xrgb(skip, 4, TypeU8);
    EXPECT_EQ(xrgb.pixelSize(), 4u);
    EXPECT_EQ(xrgb.channelMask(), MaskRGB);
}

TEST(PixelPlane, ConstructionAndChannelSlots) {
    PixelPlane plane(MaskRGBA, TypeU16, SizeI{100, 50});
    EXPECT_EQ(plane.channelCount(), 4u);
    EXPECT_EQ(plane.commonType(), TypeU16);
    EXPECT_EQ(plane.channelMask(), MaskRGBA);
    EXPECT_EQ(plane.tilesX(), 2u);
    EXPECT_TRUE(plane.hasChannel(ChannelAlpha));
    EXPECT_FALSE(plane.hasChannel(ChannelGrey));
    EXPECT_FALSE(plane.hasChannel(31));
    EXPECT_FALSE(plane.hasChannel(-1));

    EXPECT_TRUE(plane.addChannel(ChannelMask, TypeU8)); // a different type joins
    EXPECT_EQ(plane.commonType(), 0);
    auto red = plane.channel(ChannelRed);
    EXPECT_TRUE(plane.addChannel(ChannelRed, TypeU16)); // same type: nothing happens
    EXPECT_EQ(plane.channel(ChannelRed), red);
    EXPECT_TRUE(plane.addChannel(ChannelRed, TypeF32)); // converted copy replaces it
    EXPECT_EQ(plane.channel(ChannelRed)->type(), TypeF32);
    EXPECT_FALSE(plane.addChannel(31, TypeU8));
    EXPECT_FALSE(plane.addChannel(ChannelRed, 0));
    EXPECT_FALSE(plane.addChannel(ChannelRed, 4)); // float cannot become an opaque element
    EXPECT_FALSE(plane.setChannel(ChannelGrey, makeRef<DataChannel>(10, 10, TypeU8))); // wrong size
    EXPECT_TRUE(plane.removeChannel(ChannelMask));
    EXPECT_FALSE(plane.removeChannel(ChannelMask));

    const int32_t ids[] = {0, 2, 13};
    const int32_t types[] = {TypeU8, TypeU16, TypeU8};
    PixelFormat mixed;
    for (int i = 0; i < 3; ++i) mixed.append(ids[i], types[i]);
    PixelPlane fromFormat(mixed, SizeI{5, 5});
    EXPECT_EQ(fromFormat.channelMask(), channelBit(2) | channelBit(13));
    EXPECT_EQ(fromFormat.channel(13)->type(), TypeU8);
    EXPECT_EQ(fromFormat.commonType(), 0);

    PixelPlane empty(MaskRGB, TypeU8, SizeI{0, -4});
    EXPECT_EQ(empty.size(), SizeI{});
    std::vector<uint8_t> buffer(16);
    setData(empty, RectI{0, 0, 2, 2}, buffer.data(), 0, PixelFormat::fromMask(MaskRGB, TypeU8));
}

TEST(PixelPlane, RoundTripThroughSixteenBitsIsExact) {
    const int w = 131, h = 67;
    const auto rgba = rgbaPattern(w, h);
    const PixelFormat format8 = PixelFormat::fromMask(MaskRGBA, TypeU8);
    auto plane = makeRef<PixelPlane>(MaskRGBA, TypeU16, SizeI{w, h});
    setData(*plane, plane->bounds(), rgba.data(), 0, format8);
    EXPECT_EQ(plane->channel(ChannelGreen)->value<uint16_t>(1, 0), rgba[5] * 257);
    std::vector<uint8_t> back(rgba.size());
    getData(*plane, plane->bounds(), back.data(), 0, format8);
    EXPECT_EQ(back, rgba);

    // Via 16-bit and float interleaved buffers too.
    std::vector<uint16_t> wide(size_t(w) * h * 4);
    getData(*plane, plane->bounds(), wide.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU16));
    EXPECT_EQ(wide[6], rgba[6] * 257);
    std::vector<float> reals(size_t(w) * h * 4);
    getData(*plane, plane->bounds(), reals.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    auto floatPlane = makeRef<PixelPlane>(MaskRGBA, TypeF32, SizeI{w, h});
    setData(*floatPlane, floatPlane->bounds(), reals.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    std::fill(back.begin(), back.end(), 0);
    getData(*floatPlane, floatPlane->bounds(), back.data(), 0, format8);
    EXPECT_EQ(back, rgba);
}

TEST(PixelPlane, SubRectangleWithStrideAndOrderOfComponents) {
    const int w = 90, h = 80;
    auto plane = makeRef<PixelPlane>(MaskRGB, TypeU8, SizeI{w, h});
    plane->channel(ChannelRed)->setValue<uint8_t>(70, 66, 11);
    plane->channel(ChannelGreen)->setValue<uint8_t>(70, 66, 22);
    plane->channel(ChannelBlue)->setValue<uint8_t>(70, 66, 33);
    // BGR order, rectangle crossing tile borders, stride with a gap.
    const int32_t bgr[] = {4, 3, 2};
    PixelFormat format(bgr, 3, TypeU8);
    const RectI rect{60, 60, 75, 70};
    const unsigned stride = 15 * 3 + 5;
    std::vector<uint8_t> buffer(stride * 10, 0xCD);
    getData(*plane, rect, buffer.data(), stride, format);
    const size_t at = 6 * stride + 10 * 3;
    EXPECT_EQ(buffer[at], 33);
    EXPECT_EQ(buffer[at + 1], 22);
    EXPECT_EQ(buffer[at + 2], 11);
    EXPECT_EQ(buffer[stride - 1], 0xCD);
    buffer[at] = 44;
    setData(*plane, rect, buffer.data(), stride, format);
    EXPECT_EQ(plane->channel(ChannelBlue)->value<uint8_t>(70, 66), 44);
}

TEST(PixelPlane, MissingAlphaReadsOpaqueAndOtherMissingChannelsAreLeftAlone) {
    auto plane = makeRef<PixelPlane>(MaskRGB, TypeU8, SizeI{70, 3});
    plane->channel(ChannelRed)->setValue<uint8_t>(69, 2, 200);
    std::vector<uint8_t> rgba(70 * 3 * 4, 1);
    getData(*plane, plane->bounds(), rgba.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU8));
    for (size_t p = 0; p < 70 * 3; ++p) ASSERT_EQ(rgba[p * 4 + 3], 255);
    EXPECT_EQ(rgba[(2 * 70 + 69) * 4], 200);
    std::vector<uint16_t> rgba16(70 * 3 * 4, 1);
    getData(*plane, plane->bounds(), rgba16.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU16));
    EXPECT_EQ(rgba16[3], 65535);
    EXPECT_EQ(rgba16[(2 * 70 + 69) * 4], 200 * 257);
    std::vector<float> rgbaF(4, 0.5f);
    getData(*plane, RectI{0, 0, 1, 1}, rgbaF.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeF32));
    EXPECT_FLOAT_EQ(rgbaF[3], 1.0f);

    // Grey is missing: its bytes stay; a skipped component stays too.
    const int32_t ids[] = {1, 0, 2};
    std::vector<uint8_t> buffer(3, 77);
    getData(*plane, RectI{69, 2, 70, 3}, buffer.data(), 0, PixelFormat(ids, 3, TypeU8));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{77, 77, 200}));
    // Writing components the plane lacks, or an opaque type into a sample channel, changes nothing.
    const int32_t lab[] = {9, 10};
    std::vector<uint8_t> labBuffer(2 * 70 * 3, 9);
    setData(*plane, plane->bounds(), labBuffer.data(), 0, PixelFormat(lab, 2, TypeU8));
    PixelFormat opaque;
    opaque.append(ChannelRed, 1);
    setData(*plane, plane->bounds(), labBuffer.data(), 0, opaque);
    EXPECT_EQ(plane->channel(ChannelRed)->value<uint8_t>(69, 2), 200);
    EXPECT_EQ(plane->channelMask(), MaskRGB);
}

TEST(CopyPlane, WholePlaneFastPathTakesChannelsByReference) {
    auto source = makeRef<PixelPlane>(MaskRGBA, TypeU8, SizeI{300, 200});
    const auto rgba = rgbaPattern(300, 200);
    setData(*source, source->bounds(), rgba.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU8));
    auto target = makeRef<PixelPlane>(MaskRGBA, TypeU8, SizeI{300, 200});
    EXPECT_TRUE(copyPlane(*target, *source, MaskRGBA, source->bounds()));
    for (int32_t id : {2, 3, 4, 13}) EXPECT_EQ(target->channel(id), source->channel(id));

    // Writing through the target detaches its channel: the source keeps its samples, and the
    // untouched tiles are still shared.
    std::vector<uint8_t> pixel{1, 2, 3, 4};
    setData(*target, RectI{0, 0, 1, 1}, pixel.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU8));
    EXPECT_NE(target->channel(ChannelRed), source->channel(ChannelRed));
    EXPECT_EQ(source->channel(ChannelRed)->value<uint8_t>(0, 0), rgba[0]);
    EXPECT_EQ(target->channel(ChannelRed)->value<uint8_t>(0, 0), 1);
    EXPECT_EQ(target->channel(ChannelRed)->tileAt(1), source->channel(ChannelRed)->tileAt(1));
}

TEST(CopyPlane, FastPathConditions) {
    const SizeI size{128, 128};
    auto source = makeRef<PixelPlane>(MaskRGB, TypeU8, size);
    source->channel(ChannelRed)->setValue<uint8_t>(100, 100, 9);
    auto otherCompanion = makeRef<PixelPlane>(); // any shared object serves as a companion
    auto differentCompanion = makeRef<PixelPlane>(MaskRGB, TypeU8, size, otherCompanion);
    EXPECT_FALSE(copyPlane(*differentCompanion, *source, MaskRGB, source->bounds()));
    EXPECT_NE(differentCompanion->channel(ChannelRed), source->channel(ChannelRed));
    // ... but the samples were copied, sharing the aligned tiles.
    EXPECT_EQ(differentCompanion->channel(ChannelRed)->value<uint8_t>(100, 100), 9);
    EXPECT_EQ(differentCompanion->channel(ChannelRed)->tileAt(3), source->channel(ChannelRed)->tileAt(3));

    auto sixteen = makeRef<PixelPlane>(MaskRGB, TypeU16, size);
    EXPECT_FALSE(copyPlane(*sixteen, *source, MaskRGB, source->bounds()));
    EXPECT_EQ(sixteen->channel(ChannelRed)->value<uint16_t>(100, 100), 9 * 257);

    auto withAlpha = makeRef<PixelPlane>(MaskRGBA, TypeU8, size);
    EXPECT_FALSE(copyPlane(*withAlpha, *source, MaskRGB, source->bounds()));
    auto partial = makeRef<PixelPlane>(MaskRGB, TypeU8, size);
    EXPECT_FALSE(copyPlane(*partial, *source, MaskRGB, RectI{0, 0, 64, 64}));
    EXPECT_EQ(partial->channel(ChannelRed)->value<uint8_t>(100, 100), 0);
    auto attached = makeRef<PixelPlane>(MaskRGB, TypeU8, size);
    attached->setAttachment(makeRef<PixelPlane>());
    EXPECT_FALSE(copyPlane(*attached, *source, MaskRGB, source->bounds()));
    // Only the channels of the mask are copied on the slow path.
    auto masked = makeRef<PixelPlane>(MaskRGB, TypeU16, size);
    copyPlane(*masked, *source, channelBit(ChannelGreen), source->bounds());
    EXPECT_EQ(masked->channel(ChannelRed)->value<uint16_t>(100, 100), 0);
}

TEST(PixelPlane, CloneIsIndependent) {
    auto plane = makeRef<PixelPlane>(MaskRGB, TypeU8, SizeI{64, 64});
    plane->channel(ChannelRed)->setValue<uint8_t>(1, 1, 5);
    auto copy = plane->clone();
    EXPECT_EQ(copy->channel(ChannelRed)->tileAt(0), plane->channel(ChannelRed)->tileAt(0));
    copy->writableChannel(ChannelRed)->setValue<uint8_t>(1, 1, 6);
    EXPECT_EQ(plane->channel(ChannelRed)->value<uint8_t>(1, 1), 5);
    EXPECT_NE(plane->tag(), copy->tag());
}
