#include "oxf/Broker.h"
#include "oxf/LinkLog.h"
#include "oxf/LinkMessages.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace Orvex::OXF {

namespace {

constexpr const char* Source = "OXFBroker";

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

timespec absoluteIn(int ms) {
    const int64_t at = nowMs() + ms;
    return timespec{time_t(at / 1000), long(at % 1000) * 1000000};
}

// How often a waiting master looks whether its child still runs.
constexpr int MasterRoundMs = 200;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t load(const uint32_t& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}

BrokerTimeouts readTimeouts() {
    BrokerTimeouts t;
    if (const char* text = getenv("ORVEX_OXF_TIMEOUTS_MS")) {
        int values[3] = {t.handshakeMs, t.answerMs, t.roundMs};
        const char* p = text;
        for (int& v : values) {
            char* end = nullptr;
            const long n = strtol(p, &end, 10);
            if (end == p) break;
            if (n > 0 && n <= 3600000) v = int(n);
            p = *end == ',' ? end + 1 : end;
        }
        t.handshakeMs = values[0];
        t.answerMs = values[1];
        t.roundMs = values[2];
    }
    return t;
}

} // namespace

BrokerTimeouts& BrokerTimeouts::current() {
    static BrokerTimeouts t = readTimeouts();
    return t;
}

// --- BrokerBase -----------------------------------------------------------------------------------

BrokerBase::BrokerBase(const std::string& padPath, bool master) : m_path(padPath), m_master(master) {
    if (master) {
        unlink(padPath.c_str());
        const int fd =
            open(padPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) throwErrno("BrokerBase: cannot create the data pad");
        const char zero = 0;
        const bool sized = pwrite(fd, &zero, 1, sizeof(OXFDataPad) - 1) == 1;
        close(fd);
        if (!sized) throwErrno("BrokerBase: cannot size the data pad");
    }
    m_fd = open(padPath.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) throwErrno("BrokerBase: cannot open the data pad");
    struct stat st;
    if (fstat(m_fd, &st) != 0) {
        close(m_fd);
        throwErrno("BrokerBase: fstat");
    }
    const size_t size = size_t(st.st_size);
    const size_t rounded = (size + 4095) & ~size_t(4095);
    if (size < sizeof(OXFDataPad) || rounded != 0x4001000) {
        LinkLog::error("sizeof( OXFDataPad ) == %d, mr.get_size() == %d\n", int(sizeof(OXFDataPad)),
                       int(size));
        close(m_fd);
        throw std::runtime_error("BrokerBase: OXFDataPad size mismatch");
    }
    m_mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (m_mapping == MAP_FAILED) {
        m_mapping = nullptr;
        close(m_fd);
        throwErrno("BrokerBase: mmap");
    }
    m_mappedSize = size;
    m_pad = static_cast<OXFDataPad*>(m_mapping);
    check_marks("BrokerBase ctor 1");
    if (master) {
        m_pad->magic1 = OXFDataPad::Magic1;
        if (sem_init(&m_pad->sem_master, 1, 0) != 0 || sem_init(&m_pad->sem_slave, 1, 0) != 0) {
            munmap(m_mapping, m_mappedSize);
            close(m_fd);
            throwErrno("BrokerBase: sem_init");
        }
        m_semaphoresReady = true;
        m_pad->master_pid = 0;
        m_pad->slave_pid = 0;
        m_pad->revision_ = OXF_REVISION;
        m_pad->max_data_size_ = OXFDataPad::MaxDataSize;
        m_pad->flags = 0;
        __atomic_store_n(&m_pad->msg_id_, 0u, __ATOMIC_RELEASE);
        m_pad->host_fatal_ = 0;
        m_pad->magic2 = OXFDataPad::Magic2;
        m_pad->magic3 = OXFDataPad::Magic3;
        LinkLog::trace("OXFDataPad ctor\n");
    } else if (m_pad->revision_ != OXF_REVISION) {
        LinkLog::error("OXF_REVISION == %d, pad->revision_ == %d\n", int(OXF_REVISION),
                       int(m_pad->revision_));
        munmap(m_mapping, m_mappedSize);
        close(m_fd);
        throw std::runtime_error("BrokerBase: OXF_REVISION mismatch");
    }
    if (master)
        m_pad->master_pid = uint64_t(getpid());
    else
        m_pad->slave_pid = uint64_t(getpid());
    check_marks("BrokerBase ctor 2");
}

BrokerBase::~BrokerBase() {
    LinkLog::trace("BrokerBase dtor\n");
    check_marks("BrokerBase dtor");
    if (m_master && m_semaphoresReady) {
        sem_destroy(&m_pad->sem_master);
        sem_destroy(&m_pad->sem_slave);
        LinkLog::trace("OXFDataPad dtor\n");
    }
    if (m_mapping) munmap(m_mapping, m_mappedSize);
    if (m_fd >= 0) close(m_fd);
    if (m_master) unlink(m_path.c_str());
}

void BrokerBase::check_marks(const char* place) const {
    if (!m_pad) return;
    bool ok = true;
    if (m_pad->magic1 != OXFDataPad::Magic1) {
        LinkLog::trace("magic1 : failed\n");
        ok = false;
    }
    if (m_pad->magic2 != OXFDataPad::Magic2) {
        LinkLog::trace("magic2 : failed\n");
        ok = false;
    }
    if (m_pad->magic3 != OXFDataPad::Magic3) {
        LinkLog::trace("magic3 : failed\n");
        ok = false;
    }
    if (!ok) LinkLog::trace("check_marks() failed at %s\n", place);
}

// --- Broker ---------------------------------------------------------------------------------------

Broker::Broker(const std::string& padPath) : BrokerBase(padPath, false) {
    LinkLog::trace("Broker ctor - start\n");
    check_marks("Broker ctor 1");
    LinkLog::trace("Broker ctor: slave\n");
    const timespec deadline = absoluteIn(BrokerTimeouts::current().handshakeMs);
    int r;
    while ((r = sem_timedwait(&m_pad->sem_slave, &deadline)) != 0 && errno == EINTR) {
    }
    if (r != 0) throw std::runtime_error("Broker ctor: slave timeout");
    check_marks("Broker ctor 2");
    if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
    if (msg_id() != M2S_Handshake) throw std::runtime_error("Broker ctor: handshake expected");
    check_marks("Broker ctor 3");
    if (!send_message(S2M_Started, nullptr, 0, 0)) throw std::runtime_error("Broker ctor: handshake failed");
    check_marks("Broker ctor 4");
}

Broker::Broker(const std::string& padPath, const std::string& childPath, const MasterOptions& options)
    : BrokerBase(padPath, true) {
    LinkLog::trace("Broker ctor - start\n");
    LinkLog::trace("Broker ctor: master, init child \"%s\"\n", childPath.c_str());
    try {
        if (options.beforeStart) options.beforeStart(m_pad);
        if (!initChild(childPath)) throw std::runtime_error("the effect process " + childPath + " could not be started");
        if (options.connect && !connectToChild())
            throw std::runtime_error("the effect process " + childPath + " ended or did not answer before the link was made");
    } catch (...) {
        // The destructor does not run for a half-built object: end the child here.
        if (m_childPid > 0 && !m_childReaped) {
            __atomic_or_fetch(&m_pad->flags, OXFDataPad::FlagShutdown, __ATOMIC_SEQ_CST);
            sem_post(&m_pad->sem_slave);
            reapChild(500);
        }
        throw;
    }
    check_marks("Broker ctor 5");
}

Broker::~Broker() {
    LinkLog::trace("Broker dtor\n");
    check_marks("Broker dtor 1");
    if (m_master) {
        if (m_childPid > 0 && !m_childReaped) {
            disconnectFromChild();
            sleepMs(100);
            check_marks("Broker dtor 2");
            reapChild(2000);
        }
    } else {
        __atomic_exchange_n(&m_pad->msg_id_, uint32_t(S2M_Quit), __ATOMIC_SEQ_CST);
        m_pad->data_size_ = 0;
        sem_post(&m_pad->sem_master);
    }
    check_marks("Broker dtor 3");
}

uint32_t Broker::msg_id() const {
    return load(m_pad->msg_id_);
}
uint32_t Broker::data_size() const {
    return load(m_pad->data_size_);
}

bool Broker::processIsRunning(pid_t pid) {
    return pid > 0 && getpgid(pid) >= 0;
}

bool Broker::childRunning() {
    if (m_childPid <= 0 || m_childReaped) return false;
    int status = 0;
    const pid_t r = waitpid(m_childPid, &status, WNOHANG);
    if (r == m_childPid) {
        m_childStatus = status;
        m_childReaped = true;
        return false;
    }
    return r == 0 || processIsRunning(m_childPid);
}

bool Broker::other_side_still_running() {
    if (!m_pad || (load(m_pad->flags) & OXFDataPad::FlagShutdown)) {
        LinkLog::trace("other_side_still_running(): no pad\n");
        return false;
    }
    check_marks("other_side_still_running");
    LinkLog::trace("other_side_still_running(): stage 2\n");
    if (m_master) {
        LinkLog::trace("other_side_still_running(): processIsRunning( pid = %d )\n", int(m_childPid));
        return childRunning();
    }
    const uint64_t pid = m_pad->master_pid;
    LinkLog::trace("other_side_still_running(): processIsRunning( pid = %d )\n", int(pid));
    // The pid comes from the other process: only a plausible one counts.
    return pid > 0 && pid < 0x7FFFFFFF && processIsRunning(pid_t(pid));
}

void Broker::checkOtherSide() {
    if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
    if (!m_master && m_pad->host_fatal_ != 0) throw std::runtime_error("Fatal error in host process\nCan't continue");
    if (!other_side_still_running()) {
        if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
        if (!m_master) otherSideGone();
    }
}

bool Broker::send_message(uint32_t id, const void* buffer, uint32_t length, int timeoutSeconds) {
    OXF_ASSERT(Source, !buffer == !length);
    OXF_ASSERT(Source, msg_in_range(id, master()));
    OXF_ASSERT(Source, length <= OXFDataPad::MaxDataSize);
    OXF_ASSERT(Source, length <= m_pad->max_data_size_);
    if (buffer && buffer != m_pad->data) memcpy(m_pad->data, buffer, length);
    return send_prepared_message(id, length, timeoutSeconds);
}

bool Broker::waitRound(sem_t* sem, int ms) {
    const timespec deadline = absoluteIn(ms);
    for (;;) {
        if (sem_timedwait(sem, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void Broker::otherSideGone() {
    LinkLog::trace("### Slave: host is not running anymore\n");
    if (msg_id() != M2S_Quit) {
        LinkLog::plain("Slave: host is not running anymore");
        _exit(1);
    }
    _exit(0);
}

bool Broker::send_prepared_message(uint32_t id, uint32_t length, int timeoutSeconds,
                                   const std::function<void()>& whilePosted) {
    check_marks("send_prepared_message 1");
    LinkLog::trace("send_prepared_message() - start\n");
    m_pad->data_size_ = length;
    __atomic_exchange_n(&m_pad->msg_id_, id, __ATOMIC_SEQ_CST);
    if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
    sem_t* other = m_master ? &m_pad->sem_slave : &m_pad->sem_master;
    sem_t* self = m_master ? &m_pad->sem_master : &m_pad->sem_slave;
    LinkLog::trace("send_prepared_message() - before s_other.post()\n");
    sem_post(other);
    LinkLog::trace("send_prepared_message() - after s_other.post()\n");
    if (whilePosted) {
        try {
            whilePosted();
        } catch (...) {
            LinkLog::trace("send_prepared_message() - the work while posted failed\n");
        }
    }
    check_marks("send_prepared_message 2");

    const BrokerTimeouts& timeouts = BrokerTimeouts::current();
    const int64_t start = nowMs();
    const int64_t longDeadline = start + timeouts.answerMs;
    const int64_t givenDeadline = start + int64_t(timeoutSeconds) * 1000;
    bool gone = !other_side_still_running();
    bool woken = false;
    while (!gone) {
        LinkLog::trace("other_side_still_running()\n");
        if (load(m_pad->flags) & OXFDataPad::FlagShutdown) {
            LinkLog::trace("### pad()->shutdown\n ###");
            throw silent_exception();
        }
        LinkLog::trace("s_this.timed_wait( tm )\n");
        // The master checks on its child more often than the slave on its master: waitpid is
        // cheap, and a host should not keep its user waiting ten seconds for a process that has
        // already ended (one that fails to start, say).
        int round = m_master ? std::min(timeouts.roundMs, MasterRoundMs) : timeouts.roundMs;
        if (timeoutSeconds > 0)
            round = int(std::max<int64_t>(1, std::min<int64_t>(round, givenDeadline - nowMs())));
        if (waitRound(self, round)) {
            woken = true;
            break;
        }
        check_marks("send_prepared_message 3");
        if (timeoutSeconds == 0) {
            if (!m_master) {
                if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
                if (m_pad->host_fatal_ != 0)
                    throw std::runtime_error("Fatal error in host process\nCan't continue");
                if (nowMs() > longDeadline) throw std::runtime_error("Broker: Timeout");
            }
        } else if (nowMs() >= givenDeadline) {
            return false;
        }
        gone = !other_side_still_running();
    }
    if (!woken) {
        check_marks("send_prepared_message 7");
        if (!m_master) otherSideGone();
        LinkLog::trace("Broker: child is not running anymore\n");
        return false;
    }
    check_marks("send_prepared_message 4");
    if (load(m_pad->flags) & OXFDataPad::FlagShutdown) throw silent_exception();
    uint32_t answer = msg_id();
    if (msg_in_range(answer, m_master)) {
        LinkLog::trace("___ %s sync: yield ___\n", m_master ? "master" : "slave");
        if (sem_trywait(self) == 0) sem_post(self);
        answer = msg_id();
    }
    LinkLog::trace("received msg %d [%d]\n", int(answer), int(data_size()));
    check_marks("send_prepared_message end");
    if (msg_in_range(answer, !m_master)) return true;
    if (m_master && !childRunning()) {
        LinkLog::trace("Broker: child is not running anymore (disconnected from master)\n");
        return false;
    }
    throw std::runtime_error(std::string(m_master ? "Master " : "Slave ") + "Broker: Synchronization error");
}

bool Broker::send_data_block(const void* buffer, size_t size) {
    if (!buffer) return false;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    return send_data_stream(size, [bytes](uint8_t* block, size_t offset, size_t length) {
        memcpy(block, bytes + offset, length);
    });
}

bool Broker::send_data_stream(size_t size, const BlockWriter& fill, int lastTimeoutSeconds) {
    if (size > OXFDataPad::MaxDataStreamSize)
        throw std::runtime_error("Broker: data size > RpcMsgPad::MaxDataStreamSize");
    LinkLog::trace("sending data stream (size:%d)\n", int(size));
    if (size == 0) return true;
    const uint32_t clearToSend = m_master ? S2M_ClearToSend : M2S_ClearToSend;
    size_t sent = 0;
    for (uint32_t block = 0; sent < size; ++block) {
        if (block > 0 && msg_id() != clearToSend)
            throw std::runtime_error("Broker: broken data stream: no clear-to-send between blocks");
        m_pad->msg_block_ = block;
        const uint32_t chunk = uint32_t(std::min<size_t>(size - sent, OXFDataPad::MaxDataSize));
        LinkLog::trace("data stream : block # %d size %d\n", int(block), int(chunk));
        fill(m_pad->data, sent, chunk);
        const bool last = sent + chunk == size;
        if (!send_message(m_master ? M2S_DataStream : S2M_DataStream, m_pad->data, chunk,
                          last ? lastTimeoutSeconds : 0))
            return false;
        sent += chunk;
    }
    return true;
}

bool Broker::receive_data_block(void* buffer, size_t size) {
    if (!buffer) return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    return receive_data_stream(size, [bytes](const uint8_t* block, size_t offset, size_t length) {
        memcpy(bytes + offset, block, length);
    });
}

bool Broker::receive_data_stream(size_t size, const BlockReader& take) {
    if (size == 0) return false;
    if (size > OXFDataPad::MaxDataStreamSize)
        throw std::runtime_error("Broker: data size > OXFDataPad::MaxDataStreamSize");
    LinkLog::trace("receiving data stream (size:%d)\n", int(size));
    auto broken = [](const char* check) {
        throw std::runtime_error(std::string("Broker: broken data stream: ") + check);
    };
    size_t received = 0;
    for (uint32_t block = 0;; ++block) {
        const StreamBlockHeader header{msg_id(), data_size(), m_pad->msg_block_, m_pad->max_data_size_};
        const uint32_t blockSize = header.size;
        if (const char* failed = checkStreamBlock(header, block, size - received, m_master)) {
            if (failed == BlockBeyondStream)
                LinkLog::plain("receive_data_block: expected %d bytes of %d, block_size %d\n",
                               int(size - received), int(size), int(blockSize));
            broken(failed);
        }
        take(m_pad->data, received, blockSize);
        received += blockSize;
        if (received == size) return true;
        if (!send_message(m_master ? M2S_ClearToSend : S2M_ClearToSend, nullptr, 0, 0)) return false;
    }
}

// --- master role ----------------------------------------------------------------------------------

pid_t Broker::startProcess(const std::string& path, const std::string& arg) {
    LinkLog::trace("*** Starting process: %s\n", path.c_str());
    LinkLog::trace("    with parameters: %s\n", arg.c_str());
    // posix_spawn rather than a plain fork: the master may hold large images, whose pages a fork
    // would mark copy-on-write (one write fault per page on the next run).
    char* const argv[] = {const_cast<char*>(arg.c_str()), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        LinkLog::trace("fork failed, code %d\n", error);
        return 0;
    }
    LinkLog::trace("fork() called, child pid = %d\n", int(pid));
    return pid;
}

bool Broker::initChild(const std::string& childPath) {
    LinkLog::trace("initChild() - enter\n");
    if (m_pad->slave_pid != 0 && childRunning()) {
        LinkLog::trace("initChild() - already runned\n");
        return true;
    }
    LinkLog::trace("initChild() - stage 2\n");
    LinkLog::trace("initChild() - stage 3\n");
    LinkLog::trace("Init child:%s shared file:%s\n", childPath.c_str(), m_path.c_str());
    if (access(childPath.c_str(), X_OK) != 0)
        throw std::runtime_error("Main module '" + childPath + "' not found!");
    m_childPid = startProcess(childPath, "--master-link=" + m_path);
    m_childReaped = false;
    m_pad->slave_pid = uint64_t(m_childPid);
    LinkLog::trace("initChild() - exit, child_pid = %d\n", int(m_childPid));
    return m_childPid > 0 && childRunning();
}

bool Broker::connectToChild() {
    LinkLog::trace("Broker::connectToChild() ...\n");
    const int seconds = std::max(1, (BrokerTimeouts::current().handshakeMs + 999) / 1000);
    const bool ok = send_message(M2S_Handshake, nullptr, 0, seconds) && msg_id() == S2M_Started;
    LinkLog::trace("RpcMasterBroker::connectToChild() ... %s\n", ok ? "OK" : "failed");
    if (ok)
        LinkLog::trace("Broker: received S2M_Started\n");
    else
        LinkLog::trace("*** Received message code: %d wanted: %d\n", int(msg_id()), int(S2M_Started));
    return ok;
}

void Broker::disconnectFromChild() {
    LinkLog::trace("Broker::disconnectFromChild()...started\n");
    __atomic_exchange_n(&m_pad->msg_id_, uint32_t(M2S_Quit), __ATOMIC_SEQ_CST);
    m_pad->data_size_ = 0;
    sem_post(&m_pad->sem_slave);
    sleepMs(100);
    LinkLog::trace("Broker::disconnectFromChild()...finished\n");
}

int Broker::reapChild(int timeoutMs) {
    if (m_childPid <= 0) return -1;
    const int64_t deadline = nowMs() + timeoutMs;
    while (!m_childReaped) {
        int status = 0;
        const pid_t r = waitpid(m_childPid, &status, WNOHANG);
        if (r == m_childPid || (r < 0 && errno == ECHILD)) {
            m_childStatus = r == m_childPid ? status : -1;
            m_childReaped = true;
            break;
        }
        if (nowMs() >= deadline) {
            kill(m_childPid, SIGKILL);
            if (waitpid(m_childPid, &status, 0) == m_childPid) m_childStatus = status;
            m_childReaped = true;
            break;
        }
        sleepMs(5);
    }
    return m_childStatus;
}

} // namespace Orvex::OXF
