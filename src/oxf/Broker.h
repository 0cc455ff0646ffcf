#pragma once
// The broker: both ends of the data pad. The effect process is the slave (it maps the pad it is
// given and answers the master's handshake); the master role creates the pad, starts the slave and
// drives it, which is what our stand-alone host and the tests use.
//
// Exactly one message is in flight: a side writes data, size and id, posts the other side's
// semaphore and waits on its own until the other side has answered in the same pad. Waits run in
// rounds (10 s by default) between which the other process's liveness, the shutdown flag and the
// host-fatal flag are checked; a slave gives up after 30 s without an answer.
//
// Threads: one thread per process uses a broker. Errors: std::runtime_error with fixed texts,
// silent_exception when the shutdown flag is found set, assertions for caller mistakes.

#include "oxf/OXFDataPad.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace Orvex::OXF {

// A standard exception without text that ends a run quietly (reply status 1) or, outside a run,
// the process with exit code 1.
class silent_exception : public std::exception {
public:
    const char* what() const noexcept override { return ""; }
};

// Wait times of the link. The defaults are 30 s for the handshake, 30 s for any answer the slave
// waits for and 10 s per wait round; ORVEX_OXF_TIMEOUTS_MS="handshake,answer,round" (milliseconds)
// changes them for a process, which is how the tests shorten waits that would take half a minute.
struct BrokerTimeouts {
    int handshakeMs = 30000;
    int answerMs = 30000;
    int roundMs = 10000;
    static BrokerTimeouts& current();
};

class BrokerBase {
public:
    BrokerBase(const std::string& padPath, bool master);
    virtual ~BrokerBase();
    BrokerBase(const BrokerBase&) = delete;
    BrokerBase& operator=(const BrokerBase&) = delete;

    bool master() const { return m_master; }
    OXFDataPad* pad() const { return m_pad; }
    const std::string& padPath() const { return m_path; }
    void check_marks(const char* place) const;

protected:
    std::string m_path;
    bool m_master;
    int m_fd = -1;
    void* m_mapping = nullptr;
    size_t m_mappedSize = 0;
    OXFDataPad* m_pad = nullptr;
    bool m_semaphoresReady = false;
};

class Broker : public BrokerBase {
public:
    struct MasterOptions {
        // Runs after the pad is initialised and before the child starts (tests alter the pad here).
        std::function<void(OXFDataPad*)> beforeStart;
        bool connect = true; // send the handshake in the constructor
    };

    // Slave: maps the pad, waits for the handshake and answers it.
    explicit Broker(const std::string& padPath);
    // Master: creates the pad, starts `childPath` with "--master-link=<padPath>" and shakes hands.
    Broker(const std::string& padPath, const std::string& childPath, const MasterOptions& options);
    ~Broker() override;

    uint32_t msg_id() const;
    uint32_t data_size() const;
    uint8_t* data() const { return m_pad->data; }
    static constexpr uint32_t capacity() { return OXFDataPad::MaxDataSize; }

    bool send_message(uint32_t id, const void* buffer, uint32_t length, int timeoutSeconds);
    // `whilePosted` runs once the message is posted, before the wait for the answer: work the other
    // side need not wait for (it must not use the pad; what it throws is dropped).
    bool send_prepared_message(uint32_t id, uint32_t length, int timeoutSeconds,
                               const std::function<void()>& whilePosted = {});
    bool send_data_block(const void* buffer, size_t size);
    bool receive_data_block(void* buffer, size_t size);
    // The same streams without a buffer of the whole stream: `fill` writes each block straight into
    // the pad and `take` reads each block from it (offset of the block in the stream, its length).
    using BlockWriter = std::function<void(uint8_t* block, size_t offset, size_t length)>;
    using BlockReader = std::function<void(const uint8_t* block, size_t offset, size_t length)>;
    // `lastTimeoutSeconds` limits the wait for the answer to the last block (the other side's next
    // message); 0 waits as long as the other side lives.
    bool send_data_stream(size_t size, const BlockWriter& fill, int lastTimeoutSeconds = 0);
    bool receive_data_stream(size_t size, const BlockReader& take);

    bool other_side_still_running();
    static bool processIsRunning(pid_t pid);
    // Slave role, while no message is in flight (the master waits for our next message, as during
    // an interactive run): the same checks as a wait round. Throws silent_exception when the
    // shutdown flag is set and a runtime error when the host has failed; ends the process as a
    // wait round does when the master is gone.
    void checkOtherSide();

    // Master role.
    bool initChild(const std::string& childPath);
    bool connectToChild();
    void disconnectFromChild();
    pid_t childPid() const { return m_childPid; }
    // Waits up to `timeoutMs` for the child to end, then kills it; its wait status, or -1.
    int reapChild(int timeoutMs);
    int childStatus() const { return m_childStatus; }

    // Starts `path` with the single argument vector [arg]; the child's pid, 0 on failure.
    static pid_t startProcess(const std::string& path, const std::string& arg);

private:
    [[noreturn]] void otherSideGone();
    bool childRunning();
    bool waitRound(sem_t* sem, int ms);

    pid_t m_childPid = 0;
    int m_childStatus = -1;
    bool m_childReaped = false;
};

} // namespace Orvex::OXF
