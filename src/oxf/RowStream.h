#pragma once
// Rows of a rectangle travelling as a data stream whose blocks need not end on a row boundary:
// whole rows are moved straight between the pad and their place, the few rows cut by a block edge
// go through one row of scratch space.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Orvex::OXF::Detail {

// Takes block [offset, offset + length) of the stream; `store(rows, firstRow, count)` receives
// complete rows. `carry` holds one row between calls.
template <class Store>
void takeRows(const uint8_t* block, size_t offset, size_t length, size_t rowBytes,
              std::vector<uint8_t>& carry, Store&& store) {
    carry.resize(rowBytes);
    size_t pos = 0;
    const size_t rowStart = offset % rowBytes;
    if (rowStart != 0) {
        const size_t n = std::min(rowBytes - rowStart, length);
        memcpy(carry.data() + rowStart, block, n);
        pos = n;
        if (rowStart + n == rowBytes) store(carry.data(), offset / rowBytes, size_t(1));
    }
    const size_t full = (length - pos) / rowBytes;
    if (full) store(block + pos, (offset + pos) / rowBytes, full);
    pos += full * rowBytes;
    if (pos < length) memcpy(carry.data(), block + pos, length - pos);
}

// Fills block [offset, offset + length) of the stream; `load(target, firstRow, count)` writes
// complete rows.
template <class Load>
void fillRows(uint8_t* block, size_t offset, size_t length, size_t rowBytes, std::vector<uint8_t>& row,
              Load&& load) {
    row.resize(rowBytes);
    size_t pos = 0;
    const size_t rowStart = offset % rowBytes;
    if (rowStart != 0) {
        const size_t n = std::min(rowBytes - rowStart, length);
        load(row.data(), offset / rowBytes, size_t(1));
        memcpy(block, row.data() + rowStart, n);
        pos = n;
    }
    const size_t full = (length - pos) / rowBytes;
    if (full) load(block + pos, (offset + pos) / rowBytes, full);
    pos += full * rowBytes;
    if (pos < length) {
        load(row.data(), (offset + pos) / rowBytes, size_t(1));
        memcpy(block + pos, row.data(), length - pos);
    }
}

} // namespace Orvex::OXF::Detail
