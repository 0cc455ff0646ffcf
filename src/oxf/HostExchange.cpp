#include "oxf/HostExchange.h"
#include "app/Logger.h"
#include "oxf/LinkLog.h"
#include "oxf/RowStream.h"

#include <cstring>
#include <vector>

namespace Orvex::OXF {

using namespace DataStorage;

namespace {

constexpr int ChannelAlpha = DataStorage::ChannelAlpha;

// The channel request of S2M_GetChannel and S2M_PutChannel.
struct ChannelRequest {
    int32_t left, top, right, bottom, code;
};
static_assert(sizeof(ChannelRequest) == 20);

int typeFromBytes(int bytes) {
    return bytes == 1 ? TypeU8 : bytes == 2 ? TypeU16 : bytes == 4 ? TypeF32 : 0;
}

bool isAlpha(int id) {
    return id == ChannelAlpha || id == ChannelSecondAlpha;
}

Broker& broker() {
    Broker* b = currentBroker();
    if (!b) throw std::runtime_error("Host exchange outside a run");
    return *b;
}

class ProfileAttachment : public SharedObject {
public:
    explicit ProfileAttachment(CMM::ProfilePtr p) : profile(std::move(p)) {}
    CMM::ProfilePtr profile;
};

CMM::ProfilePtr g_documentProfile;
bool g_documentProfileDone = false;

RectI unite(const RectI& a, const RectI& b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

template <class T> bool nonZero(const unsigned char* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v != T(0);
}

template <class T> RectI boundBoxT(const DataChannel& channel, const RectI& scan, RectI box) {
    const RectI area = scan.intersected(channel.bounds());
    if (area.isEmpty()) return box;
    TileReadOnly tile(channel);
    forEachTile(channel.size(), area, [&](uint32_t tileNum, const RectI& part) {
        if (box.contains(part) && !box.isEmpty()) return;
        if (!tile.switchTo(tileNum)) return;
        if (tile.isSolid()) {
            if (nonZero<T>(tile.solidValue())) box = unite(box, part);
            return;
        }
        // Rows above and below the box are read whole; rows across it only outside it.
        for (int y = part.top; y < part.bottom; ++y) {
            const bool crossesBox = !box.isEmpty() && y >= box.top && y < box.bottom;
            for (int x = part.left; x < part.right; ++x) {
                if (crossesBox && x >= box.left && x < box.right) {
                    x = box.right - 1;
                    continue;
                }
                if (nonZero<T>(tile.element(x, y))) box = unite(box, RectI{x, y, x + 1, y + 1});
            }
        }
    });
    return box;
}

// Whether every sample of the channel has one value; that value goes to `value` (element bytes).
bool uniformChannel(const DataChannel& channel, std::vector<unsigned char>& value) {
    const uint32_t size = channel.elementSize();
    value.assign(size, 0);
    bool first = true;
    bool uniform = true;
    TileReadOnly tile(channel);
    forEachTile(channel.size(), channel.bounds(), [&](uint32_t tileNum, const RectI& part) {
        if (!uniform || !tile.switchTo(tileNum)) return;
        auto check = [&](const unsigned char* element) {
            if (first) {
                memcpy(value.data(), element, size);
                first = false;
            } else if (memcmp(value.data(), element, size) != 0) {
                uniform = false;
            }
        };
        if (tile.isSolid()) {
            check(tile.solidValue());
            return;
        }
        for (int y = part.top; y < part.bottom && uniform; ++y)
            for (int x = part.left; x < part.right && uniform; ++x) check(tile.element(x, y));
    });
    return uniform;
}

} // namespace

int channel_ds2oxf(int identifier) {
    switch (identifier) {
    case ChannelGrey:
        return 10;
    case ChannelRed:
        return 4;
    case ChannelGreen:
        return 5;
    case ChannelBlue:
        return 6;
    case ChannelCyan:
        return 11;
    case ChannelMagenta:
        return 12;
    case ChannelYellow:
        return 13;
    case ChannelBlack:
        return 14;
    case ChannelL:
        return 7;
    case ChannelA:
        return 8;
    case ChannelB:
        return 9;
    case ChannelAlpha:
        return 1;
    case ChannelSecondAlpha:
        return 2;
    case ChannelSelection:
        return 3;
    default:
        qCCritical(lcKernel, "channel_ds2oxf() - unknown channel: %d\n", identifier);
        return 0;
    }
}

RectI hostImageRect() {
    return {0, 0, std::max(0, hostRequest().width), std::max(0, hostRequest().height)};
}
int hostSampleType() {
    return typeFromBytes(hostRequest().bytesPerSample);
}
bool hostHasTransparency() {
    return hostRequest().hasTransparency != 0;
}
bool hostHasSelection() {
    return hostRequest().hasSelection != 0;
}
QString hostFileName() {
    return QString::fromUtf8(hostFileNameBytes().data(), int(hostFileNameBytes().size()));
}

int stripeHeight(size_t rowBytes, int height) {
    if (rowBytes == 0) return std::max(0, height);
    size_t rows = OXFDataPad::MaxDataSize / rowBytes;
    rows = std::max<size_t>(rows, 64);
    rows = (rows + 63) / 64 * 64;
    return int(std::min<size_t>(rows, size_t(std::max(0, height))));
}

bool getChannel(Ref<DataChannel>& out, int channel, const RectI& rect) {
    LinkLog::trace("getChannel( %d, [%d,%d,%d,%d] )\n", channel, rect.left, rect.top, rect.right,
                   rect.bottom);
    const int type = hostSampleType();
    if (type == 0) {
        qCCritical(lcKernel, "getChannel() : Unknown host channel size: %d\n",
                   int(hostRequest().bytesPerSample));
        return false;
    }
    const RectI clipped = rect.isEmpty() ? hostImageRect() : rect.intersected(hostImageRect());
    if (clipped.width() < 1 || clipped.height() < 1) {
        qCDebug(lcKernel, "Empty rect in getChannel()\n");
        return false;
    }
    auto work = makeRef<DataChannel>(clipped.width(), clipped.height(), type);
    if (isAlpha(channel) && !hostHasTransparency()) {
        unsigned char maxValue[8];
        writeMaxValue(type, maxValue);
        work->fill(maxValue);
        qCDebug(lcKernel, "getChannel: no alpha, filled as opaque\n");
        LinkLog::trace("getChannel: no alpha, filled as opaque\n");
    } else {
        const int code = channel_ds2oxf(channel);
        const size_t bytes = size_t(-type == 3 ? 4 : -type);
        const size_t rowBytes = size_t(clipped.width()) * bytes;
        const int stripe = stripeHeight(rowBytes, clipped.height());
        std::vector<uint8_t> carry;
        Broker& b = broker();
        for (int top = clipped.top; top < clipped.bottom; top += stripe) {
            const int bottom = std::min(clipped.bottom, top + stripe);
            const ChannelRequest request{clipped.left, top, clipped.right, bottom, code};
            if (!b.send_message(S2M_GetChannel, &request, sizeof request, 0)) return false;
            const size_t size = size_t(bottom - top) * rowBytes;
            // Rows go from the pad straight into the tiles.
            const bool ok =
                b.receive_data_stream(size, [&](const uint8_t* block, size_t offset, size_t length) {
                    Detail::takeRows(block, offset, length, rowBytes, carry,
                                     [&](const uint8_t* rows, size_t firstRow, size_t count) {
                                         const int y = top - clipped.top + int(firstRow);
                                         setData(*work, RectI{0, y, clipped.width(), y + int(count)}, rows,
                                                 unsigned(rowBytes));
                                     });
                });
            if (!ok) return false;
        }
    }
    if (!out || out->type() == type)
        out = work;
    else
        out = makeRef<DataChannel>(*work, out->type());
    qCDebug(lcKernel, "getChannel: done\n");
    LinkLog::trace("getChannel: done\n");
    return true;
}

bool putChannel(const DataChannel& source, int channel, const RectI& rect) {
    LinkLog::trace("putChannel( %d, [%d,%d,%d,%d] )\n", channel, rect.left, rect.top, rect.right,
                   rect.bottom);
    if (isAlpha(channel) && hostRequest().transparencyLocked) {
        LinkLog::trace("putChannel: alpha locked\n");
        return true;
    }
    const int type = hostSampleType();
    if (type == 0) {
        qCCritical(lcKernel, "dsChannelType() : Unknown host channel size: %d\n",
                   int(hostRequest().bytesPerSample));
        return false;
    }
    RectI clipped = rect.isEmpty() ? hostImageRect() : rect.intersected(hostImageRect());
    // A smaller channel cuts the rectangle; the request then names only what is sent.
    clipped.right = clipped.left + std::min(clipped.width(), source.width());
    clipped.bottom = clipped.top + std::min(clipped.height(), source.height());
    if (clipped.width() < 1 || clipped.height() < 1) return false;
    Ref<DataChannel> converted;
    const DataChannel* data = &source;
    if (source.type() != type) {
        converted = makeRef<DataChannel>(source, type);
        data = converted.get();
    }
    const int code = channel_ds2oxf(channel);
    const size_t bytes = size_t(-type == 3 ? 4 : -type);
    const size_t rowBytes = size_t(clipped.width()) * bytes;
    const int stripe = stripeHeight(rowBytes, clipped.height());
    std::vector<uint8_t> row;
    Broker& b = broker();
    for (int top = clipped.top; top < clipped.bottom; top += stripe) {
        const int bottom = std::min(clipped.bottom, top + stripe);
        const ChannelRequest request{clipped.left, top, clipped.right, bottom, code};
        if (!b.send_message(S2M_PutChannel, &request, sizeof request, 0)) return false;
        // Rows go from the tiles straight into the pad.
        const bool ok = b.send_data_stream(size_t(bottom - top) * rowBytes, [&](uint8_t* block, size_t offset,
                                                                                size_t length) {
            Detail::fillRows(
                block, offset, length, rowBytes, row, [&](uint8_t* target, size_t firstRow, size_t count) {
                    const int y = top - clipped.top + int(firstRow);
                    getData(*data, RectI{0, y, clipped.width(), y + int(count)}, target, unsigned(rowBytes));
                });
        });
        if (!ok) return false;
    }
    qCDebug(lcKernel, "putChannel: done\n");
    LinkLog::trace("putChannel: done\n");
    return true;
}

RectI boundBox(const DataChannel& channel, const RectI& scan, const RectI& startBox) {
    switch (channel.type()) {
    case TypeU8:
        return boundBoxT<uint8_t>(channel, scan, startBox);
    case TypeU16:
        return boundBoxT<uint16_t>(channel, scan, startBox);
    case TypeF32:
        return boundBoxT<float>(channel, scan, startBox);
    default:
        throw std::runtime_error("OXF::boundBox() : unexpected channelType");
    }
}

bool getMask(Ref<DataChannel>& mask, const RectI& rect, RectI& outHostMaskRect, bool resize) {
    LinkLog::trace("getMask( [%d,%d,%d,%d], resize=%s )\n", rect.left, rect.top, rect.right, rect.bottom,
                   resize ? "true" : "false");
    if (!hostHasSelection()) {
        LinkLog::trace("getMask: !hasSelection()\n");
        return false;
    }
    if (!getChannel(mask, ChannelSelection, rect)) {
        LinkLog::trace("getMask: getChannel() failed\n");
        return false;
    }
    const RectI origin = rect.isEmpty() ? hostImageRect() : rect.intersected(hostImageRect());
    std::vector<unsigned char> value;
    if (uniformChannel(*mask, value)) {
        outHostMaskRect = origin;
        const bool zero = std::all_of(value.begin(), value.end(), [](unsigned char c) { return c == 0; });
        if (zero) {
            outHostMaskRect.right = outHostMaskRect.left;
            outHostMaskRect.bottom = outHostMaskRect.top;
            if (resize) mask = makeRef<DataChannel>(0, 0, mask->type());
        }
        LinkLog::trace("Monotone selection\n");
        return true;
    }
    RectI solidBox, scanBox;
    TileReadOnly tile(*mask);
    forEachTile(mask->size(), mask->bounds(), [&](uint32_t tileNum, const RectI& part) {
        if (!tile.switchTo(tileNum)) return;
        if (tile.isSolid()) {
            const unsigned char* v = tile.solidValue();
            if (std::any_of(v, v + mask->elementSize(), [](unsigned char c) { return c != 0; }))
                solidBox = unite(solidBox, part);
        } else {
            scanBox = unite(scanBox, part);
        }
    });
    solidBox = solidBox.intersected(mask->bounds());
    scanBox = scanBox.intersected(mask->bounds());
    RectI box = boundBox(*mask, scanBox, solidBox);
    LinkLog::trace("outHostMaskRect = [%d,%d,%d,%d]\n", box.left, box.top, box.right, box.bottom);
    if (resize && box != mask->bounds()) {
        auto cut = makeRef<DataChannel>(box.width(), box.height(), mask->type());
        copyChannel(*cut, *mask, box, DataStorage::PointI{-box.left, -box.top});
        mask = cut;
    }
    outHostMaskRect = box.isEmpty() ? RectI{origin.left, origin.top, origin.left, origin.top}
                                    : box.translated(origin.left, origin.top);
    LinkLog::trace("translated outHostMaskRect = [%d,%d,%d,%d]\n", outHostMaskRect.left, outHostMaskRect.top,
                   outHostMaskRect.right, outHostMaskRect.bottom);
    return true;
}

PixelFormat dsChannelType(bool withAlpha) {
    const int type = hostSampleType();
    if (type == 0) {
        qCCritical(lcKernel, "dsChannelType() : Unknown host channel size: %d\n",
                   int(hostRequest().bytesPerSample));
        return PixelFormat();
    }
    uint32_t mask = 0x1C;
    switch (hostRequest().colorMode) {
    case ModeGrey:
        mask = 0x2;
        break;
    case ModeCMYK:
        mask = 0x1E0;
        break;
    case ModeLab:
        mask = 0xE00;
        break;
    default:
        break;
    }
    if (withAlpha || hostHasTransparency()) mask |= 0x2000;
    return PixelFormat::fromMask(mask, type);
}

bool getPlane(Ref<PixelPlane>& plane, const RectI& rect, bool withAlpha) {
    const PixelFormat format = dsChannelType(withAlpha);
    if (format.count() == 0) return false;
    const RectI clipped = rect.isEmpty() ? hostImageRect() : rect.intersected(hostImageRect());
    if (clipped.isEmpty()) return false;
    plane = makeRef<PixelPlane>(format, DataStorage::SizeI{clipped.width(), clipped.height()});
    plane->setAttachment(makeRef<ProfileAttachment>(DocumentProfile()));
    for (int i = 0; i < format.count(); ++i) {
        const int id = format.identifier(i);
        Ref<DataChannel> channel;
        if (!getChannel(channel, id, clipped)) return false;
        plane->setChannel(id, channel);
    }
    return true;
}

bool putPlane(const PixelPlane& plane, const RectI& rect) {
    for (int id = 0; id <= int(MaxChannelId); ++id) {
        const Ref<DataChannel> channel = plane.channel(id);
        if (channel && !putChannel(*channel, id, rect)) return false;
    }
    return true;
}

CMM::ProfilePtr planeProfile(const PixelPlane& plane) {
    const Ref<SharedObject> attachment = plane.attachment();
    auto* holder = dynamic_cast<ProfileAttachment*>(attachment.get());
    return holder ? holder->profile : nullptr;
}

void resetDocumentProfile() {
    g_documentProfile.reset();
    g_documentProfileDone = false;
}

CMM::ProfilePtr DocumentProfile() {
    LinkLog::trace("DocumentProfile()\n");
    if (g_documentProfileDone) return g_documentProfile;
    g_documentProfileDone = true;
    const std::vector<uint8_t>& bytes = hostProfileBytes();
    CMM::ProfilePtr parsed = bytes.empty() ? nullptr : CMM::Profile::fromICC(bytes.data(), bytes.size());
    CMM::ColorSpace space = CMM::ColorSpace::RGB;
    switch (hostRequest().colorMode) {
    case ModeLab:
        space = CMM::ColorSpace::Lab;
        break;
    case ModeGrey:
        space = CMM::ColorSpace::Grey;
        break;
    case ModeCMYK:
        space = CMM::ColorSpace::CMYK;
        break;
    default:
        break;
    }
    if (space == CMM::ColorSpace::RGB && !parsed) return g_documentProfile = nullptr;
    g_documentProfile = CMM::profileOrDefault(parsed, space);
    return g_documentProfile;
}

} // namespace Orvex::OXF
