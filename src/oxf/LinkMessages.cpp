#include "oxf/LinkMessages.h"

#include <cctype>
#include <cstring>

namespace Orvex::OXF {

const char* const ProductName = "Elemorama";

namespace {

std::string normalisedName(const char* text, size_t maxLength) {
    std::string out;
    for (size_t i = 0; i < maxLength && text[i]; ++i)
        if (text[i] != ' ') out += char(tolower(static_cast<unsigned char>(text[i])));
    return out;
}

} // namespace

bool parseRunRequest(const uint8_t* data, size_t size, RunRequest& out, std::string& error) {
    if (size < sizeof(HostRequest)) {
        error = "Malformed run request: " + std::to_string(size) + " bytes";
        return false;
    }
    memcpy(&out.header, data, sizeof out.header);
    const HostRequest& h = out.header;
    // 64-bit sum: three 32-bit lengths cannot wrap around.
    const uint64_t needed = uint64_t(sizeof h) + h.fileNameLength + h.profileLength + h.paramLength;
    if (needed > size) {
        error = "Malformed run request: the lengths exceed the message";
        return false;
    }
    const char* p = reinterpret_cast<const char*>(data) + sizeof h;
    out.fileName.assign(p, h.fileNameLength);
    p += h.fileNameLength;
    out.profile.assign(reinterpret_cast<const uint8_t*>(p),
                       reinterpret_cast<const uint8_t*>(p) + h.profileLength);
    p += h.profileLength;
    out.paramText.assign(p, h.paramLength);
    return true;
}

bool pluginNameMatches(const HostRequest& header) {
    return normalisedName(header.pluginName, sizeof header.pluginName) == normalisedName(ProductName, 64);
}

const char* checkStreamBlock(const StreamBlockHeader& block, uint32_t expectedNumber, size_t remaining,
                             bool master) {
    if (block.id != (master ? S2M_DataStream : M2S_DataStream))
        return "msg_id() == ( master() ? S2M_DataStream : M2S_DataStream )";
    if (block.size == 0) return "block_size > 0";
    if (block.size > OXFDataPad::MaxDataSize) return "block_size <= OXFDataPad::MaxDataSize";
    if (block.size > block.padCapacity) return "block_size <= pad()->max_data_size_";
    if (block.number != expectedNumber) return "pad()->msg_block_ == block_number";
    if (block.size > remaining) return BlockBeyondStream;
    return nullptr;
}

std::string runRequestProblem(const HostRequest& header) {
    if (header.width < 1 || header.height < 1 || int64_t(header.width) * header.height > (int64_t(1) << 31))
        return "Run request with an invalid image size " + std::to_string(header.width) + " x " +
               std::to_string(header.height);
    const int bytes = header.bytesPerSample;
    if (bytes != 1 && bytes != 2 && bytes != 4)
        return "Run request with an unsupported sample size of " + std::to_string(bytes) + " bytes";
    if (header.colorMode < ModeRGB || header.colorMode > ModeCMYK)
        return "Run request with an unknown colour mode " + std::to_string(int(header.colorMode));
    return {};
}

} // namespace Orvex::OXF
