#pragma once
// What the effect process reads from the master's messages, as pure functions over bytes: the run
// request payload and the header of each block of an incoming data stream. The entry and the
// broker use them on the pad; the tests and the fuzz targets feed them bytes directly.

#include "oxf/OXF.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orvex::OXF {

// The parts of a M2S_Run payload: the 80-byte header, then the file name, the ICC profile and the
// parameter text, each as long as the header says.
struct RunRequest {
    HostRequest header{};
    std::string fileName;
    std::vector<uint8_t> profile;
    std::string paramText;
};

// Splits a run payload of `size` bytes. False with a text in `error` when the payload is shorter
// than the header or the header's lengths exceed it; `out.header` is set whenever the header is
// whole. Never reads beyond `size`.
bool parseRunRequest(const uint8_t* data, size_t size, RunRequest& out, std::string& error);

// Why the header cannot be run (an image size no image can have, a sample size or colour mode this
// process does not know), or empty when it can. The sizes come from the other process, so this is
// asked before anything is allocated for them.
std::string runRequestProblem(const HostRequest& header);

// Whether the header's plug-in name names this product (lower-case, blanks removed).
bool pluginNameMatches(const HostRequest& header);

// The header of one incoming block of a data stream, as the pad holds it.
struct StreamBlockHeader {
    uint32_t id = 0;          // msg_id_
    uint32_t size = 0;        // data_size_
    uint32_t number = 0;      // msg_block_
    uint32_t padCapacity = 0; // max_data_size_
};

// The check that fails for a block larger than what remains of the stream.
inline constexpr const char* BlockBeyondStream = "block_size <= size";

// Checks block `expectedNumber` of a stream of which `remaining` bytes are still due, received by
// the master or the slave. Null when the block may be copied, else the name of the failed check.
const char* checkStreamBlock(const StreamBlockHeader& block, uint32_t expectedNumber, size_t remaining,
                             bool master);

} // namespace Orvex::OXF
