#pragma once
// Orvex::OXF -- the host link of the effect process.
//
// Principles:
// - The master (the host's plug-in module, or our own stand-alone host) starts the process with
//   "--master-link=<pad file>"; mainOXF builds the application object, opens the slave Broker and
//   serves run requests until the master quits. Each run pulls the host's image and selection
//   through the host exchange (HostExchange.h), processes them and writes the result back.
// - Ownership: the entry owns the application object and the broker for the whole process; the
//   run values (HostRequest, file name, ICC bytes) are process-wide and valid until the next run.
// - Threads: the link is used only from the GUI thread (the thread that runs mainOXF).
// - Errors: everything from the other process is untrusted and checked before use. Failures of a
//   run become the reply status (1 quiet abort, 2 failure with a text); failures outside a run end
//   the process with exit code 1 (no link, quiet abort, master gone), 2 (standard exception) or 3.
// - Rectangles exclude right and bottom.

#include "oxf/Broker.h"

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Orvex::OXF {

#pragma pack(push, 1)
// The 80-byte header of a run request (little-endian).
struct HostRequest {
    int32_t width;
    int32_t height;
    uint32_t fileNameLength;
    uint32_t profileLength;
    uint32_t paramLength;
    uint8_t reserved20[8];
    uint8_t reserved28;
    uint8_t reserved29;
    int8_t colorMode;      // 1 RGB, 2 Lab, 3 grey, 4 CMYK
    int8_t bytesPerSample; // 1, 2 or 4 (float)
    uint8_t hasTransparency;
    uint8_t hasSelection;
    uint8_t reserved34;
    uint8_t transparencyLocked;
    char pluginName[44]; // zero-terminated ASCII
};

// The header of a run reply (S2M_Done); the error text and the parameter text follow.
struct RunReplyHeader {
    int32_t status; // 0 applied, 1 cancelled or aborted quietly, 2 failed
    int32_t zero;
    uint32_t errorLength;
    uint32_t paramLength;
};
#pragma pack(pop)
static_assert(sizeof(HostRequest) == 80);
static_assert(offsetof(HostRequest, colorMode) == 30 && offsetof(HostRequest, hasSelection) == 33 &&
              offsetof(HostRequest, transparencyLocked) == 35 && offsetof(HostRequest, pluginName) == 36);
static_assert(sizeof(RunReplyHeader) == 16);

enum ColorMode : int8_t { ModeRGB = 1, ModeLab = 2, ModeGrey = 3, ModeCMYK = 4 };

// The product name that a run request must carry (compared lower-case, without blanks).
extern const char* const ProductName; // "Elemorama"

// Run values, valid from a run request to the next.
HostRequest& hostRequest();
const std::string& hostFileNameBytes();
const std::vector<uint8_t>& hostProfileBytes();
void setRunValues(const HostRequest& request, std::string fileName, std::vector<uint8_t> profile);

// The slave broker of the process, or none outside the link.
Broker* currentBroker();
void setCurrentBroker(Broker* broker);

// The process entry; returns the exit code.
int mainOXF(int argc, char** argv);

// The master link of an argument vector: the value of the last element beginning with
// "--master-link=" (element 0 included); empty when there is none.
std::string findMasterLink(int argc, char** argv);

// Serves one run: 0 applied, 1 cancelled, 2 failed. Stores the run values, then takes the
// window-less batch path (BatchRun.h) when the parameters have a top-level `batch` node, else the
// interactive run (InteractiveRun.h): load, then wait for the window's Apply or Cancel.
int processImage(const HostRequest& request, const std::string& fileName, const std::vector<uint8_t>& profile,
                 const boost::property_tree::ptree& params);

// The effect window: shows one window for the loaded interactive run, runs it with run.exec()
// (which ends when the window calls run.finish or when the link ends the run) and returns the
// result code (0 applied, -128 cancelled, anything else failed). Registered by the user-interface
// layer; without one an interactive run loads and waits for the link (or ELEMORAMA_AUTO).
class InteractiveRun;
using WindowRunner = std::function<int16_t(InteractiveRun& run)>;
void setWindowRunner(WindowRunner runner);

// Parameter texts come from another process. A text is refused, before it is parsed, when it is
// larger than 1 MiB, contains "#include" (the INFO reader would read another file into the tree)
// or nests deeper than 64 levels; the refusal text goes to `error`.
constexpr size_t MaxParameterTextSize = size_t(1) << 20;
constexpr int MaxParameterDepth = 64;
bool checkParameterText(const std::string& text, std::string* error);
// Checks, then parses the INFO text (empty text: empty tree); throws std::runtime_error.
boost::property_tree::ptree parseParameterText(const std::string& text);
std::string writeParameterText(const boost::property_tree::ptree& tree); // INFO, indent of 4 blanks

} // namespace Orvex::OXF
