#pragma once
// The master role of the link, as our stand-alone host and the tests use it: creates the data pad
// in a private directory on a memory file system (padDirectoryBase), starts the effect process, shakes hands, removes the pad's name
// at once (both processes keep their mapping, so the file never outlives the host), sends run
// requests and answers every channel request from an image record and an optional selection.
//
// Everything the effect process sends is checked; a process that dies, does not answer in time or
// breaks the protocol ends the session with a std::runtime_error whose text says which. After such
// an error the process is stopped (shutdown flag, then SIGKILL) and reaped.

#include "imageio/ImageIO.h"
#include "oxf/Broker.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Orvex::OXF {

// The points of a run at which a fault-injection hook is called (tests stop or freeze the effect
// process there): before the run request goes out, at each channel request, at the first block of
// each stream, and when the reply has come.
enum class LinkStep { Run, Get, GetStream, Put, PutStream, Done };

struct MasterRun {
    ImageIO::ImageRecord* image = nullptr;           // read by GetChannel, written by PutChannel
    const ImageIO::ImageRecord* selection = nullptr; // grey, the image's size; none: no selection
    std::string params;                              // the parameter text (INFO)
    std::string fileName;                            // the host file name sent with the request
    std::string pluginName = "Elemorama";
    bool transparencyLocked = false;
    int timeoutSeconds = 0; // longest wait for any answer; 0: no limit (liveness is still checked)
    std::function<void(LinkStep)> onStep; // optional; called on the master's thread
};

// One channel request of the effect process, in the order they came.
struct ChannelEvent {
    bool put = false; // S2M_PutChannel; else S2M_GetChannel
    int code = 0;     // the host channel code
    int left = 0, top = 0, right = 0, bottom = 0;
    double atMs = 0; // when the request came, from the start of the run
};

struct MasterReply {
    int status = 2;
    std::string error;
    std::string params;
    int channelsRead = 0;    // channel requests served
    int channelsWritten = 0; // channel writes received
    std::vector<ChannelEvent> events;
    double doneMs = 0; // when the reply came, from the start of the run
    std::chrono::steady_clock::time_point start;
};

class MasterSession {
public:
    // `fxPath`: the effect process. Throws std::runtime_error when it cannot be started or does not
    // shake hands.
    explicit MasterSession(const std::string& fxPath, const Broker::MasterOptions& options = {});
    ~MasterSession();
    MasterSession(const MasterSession&) = delete;
    MasterSession& operator=(const MasterSession&) = delete;

    MasterReply run(const MasterRun& run);
    // Sends M2S_Quit and waits up to `waitMs` for the process; its exit code (-1 when it had to be
    // killed or died from a signal).
    int quit(int waitMs = 5000);
    // Stops the process at once: shutdown flag, wake-up, SIGKILL after `graceMs`.
    void abort(int graceMs = 1000);

    Broker& broker() { return *m_broker; }
    pid_t childPid() const;
    const std::string& padPath() const { return m_padPath; }
    int exitCode() const; // of the ended process, -1 while it runs or after a signal

private:
    MasterReply serve(const MasterRun& run, MasterReply& reply);
    void serveGet(const MasterRun& run, MasterReply& reply);
    void servePut(const MasterRun& run, MasterReply& reply);
    [[noreturn]] void broken(const std::string& what);
    void checkAnswer(bool ok, int timeoutSeconds);

    std::string m_dir;
    std::string m_padPath;
    std::unique_ptr<Broker> m_broker;
    bool m_ended = false;
};

// Where sessions make their private pad directory: $XDG_RUNTIME_DIR, else /dev/shm, else $TMPDIR
// or /tmp.
std::string padDirectoryBase();

// The effect process beside the running executable (elemorama-fx in the same directory).
std::string effectProcessBesideSelf();

} // namespace Orvex::OXF
