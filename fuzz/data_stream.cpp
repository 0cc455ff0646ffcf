// An incoming data stream of pixel rows as the effect process receives a channel stripe from the
// master: block headers (id, size, number, the pad's capacity) come from the input, each block is
// checked before it is copied, and the accepted blocks are cut into rows as the channel transfer
// does. A stream that completes must deliver every row exactly once and every byte in place.
#include "oxf/LinkMessages.h"
#include "oxf/RowStream.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Small stand-ins for the pad: a stream of at most 256 KiB in blocks of at most 16 KiB, so that
// every input runs in microseconds; the checks see the real limits of the pad.
constexpr size_t PadBytes = 16 * 1024;

struct Input {
    const uint8_t* data;
    size_t size;
    template <class T> bool take(T& value) {
        if (size < sizeof value) return false;
        memcpy(&value, data, sizeof value);
        data += sizeof value;
        size -= sizeof value;
        return true;
    }
};

uint8_t streamByte(size_t offset) {
    return uint8_t(offset * 131 + (offset >> 8));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace OXF = Orvex::OXF;
    Input in{data, size};
    uint16_t rowBytes = 0, rows = 0;
    uint8_t flags = 0;
    if (!in.take(rowBytes) || !in.take(rows) || !in.take(flags)) return 0;
    rowBytes = uint16_t(rowBytes % 2048 + 1);
    rows = uint16_t(rows % 128 + 1);
    const bool master = flags & 1;
    const size_t streamSize = size_t(rowBytes) * rows;

    std::vector<uint8_t> image(streamSize, 0);
    std::vector<uint8_t> seen(rows, 0);
    std::vector<uint8_t> carry;
    std::vector<uint8_t> pad(PadBytes);
    size_t received = 0;
    for (uint32_t block = 0; received < streamSize; ++block) {
        OXF::StreamBlockHeader header;
        uint8_t idChoice = 0;
        uint16_t blockSize = 0;
        if (!in.take(idChoice) || !in.take(blockSize)) return 0;
        // Mostly well-formed headers, with every field now and then taken from the input.
        header.id =
            idChoice < 200 ? (master ? OXF::S2M_DataStream : OXF::M2S_DataStream) : 0x100u + idChoice % 16;
        header.size = idChoice % 7 == 6 ? uint32_t(OXF::OXFDataPad::MaxDataSize) + blockSize
                                        : blockSize % (PadBytes + 1);
        header.number = idChoice % 11 == 10 ? block + 1 : block;
        header.padCapacity = idChoice % 13 == 12 ? header.size / 2 : OXF::OXFDataPad::MaxDataSize;
        if (OXF::checkStreamBlock(header, block, streamSize - received, master)) return 0;
        if (header.size > PadBytes) return 0; // beyond the stand-in pad; the real pad would hold it
        for (size_t i = 0; i < header.size; ++i) pad[i] = streamByte(received + i);
        OXF::Detail::takeRows(pad.data(), received, header.size, rowBytes, carry,
                              [&](const uint8_t* from, size_t firstRow, size_t count) {
                                  if (firstRow + count > rows) std::abort();
                                  for (size_t r = firstRow; r < firstRow + count; ++r) {
                                      if (seen[r]++) std::abort();
                                  }
                                  memcpy(image.data() + firstRow * rowBytes, from, count * rowBytes);
                              });
        received += header.size;
    }
    for (size_t r = 0; r < rows; ++r)
        if (seen[r] != 1) std::abort();
    for (size_t i = 0; i < streamSize; ++i)
        if (image[i] != streamByte(i)) std::abort();

    // The same rows sent back in blocks of sizes from the input reassemble to the same bytes.
    std::vector<uint8_t> row, sent(streamSize);
    size_t offset = 0;
    while (offset < streamSize) {
        uint16_t length = 0;
        if (!in.take(length)) length = uint16_t(PadBytes);
        const size_t n = std::min<size_t>(streamSize - offset, size_t(length) % PadBytes + 1);
        OXF::Detail::fillRows(sent.data() + offset, offset, n, rowBytes, row,
                              [&](uint8_t* to, size_t firstRow, size_t count) {
                                  if (firstRow + count > rows) std::abort();
                                  memcpy(to, image.data() + firstRow * rowBytes, count * rowBytes);
                              });
        offset += n;
    }
    if (sent != image) std::abort();
    return 0;
}
