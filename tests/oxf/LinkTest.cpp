// The link between a real master (this test process) and real slave processes.

#include "LinkTestSupport.h"
#include "TestSlave.h"

#include "oxf/LinkLog.h"
#include "oxf/MasterSession.h"
#include "oxf/OXF.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace Orvex;
using namespace Orvex::OXF;
using ImageIO::ColorModel;
using ImageIO::ImageRecord;

namespace {

std::string selfPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, size_t(std::max<ssize_t>(n, 0)));
}

// Every test runs with its own temporary directory for pads, settings and the link log, and with
// short wait rounds (250 ms); handshakes and answers may take 10 s on a busy machine.
class LinkEnvironment : public testing::Environment {
public:
    void SetUp() override {
        m_dir = std::make_unique<QTemporaryDir>();
        const QByteArray base = m_dir->path().toUtf8();
        QDir().mkpath(m_dir->path() + "/tmp");
        setenv("TMPDIR", (base + "/tmp").constData(), 1);
        setenv("HOME", base.constData(), 1);
        setenv("XDG_CONFIG_HOME", (base + "/config").constData(), 1);
        setenv("XDG_STATE_HOME", (base + "/state").constData(), 1);
        setenv("ORVEX_OXF_LOG_FILE", (base + "/oxf.log").constData(), 1);
        setenv("ORVEX_OXF_TIMEOUTS_MS", "10000,10000,250", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QDir().mkpath(m_dir->path() + "/runtime");
        QFile::setPermissions(m_dir->path() + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("XDG_RUNTIME_DIR", (base + "/runtime").constData(), 1);
        unsetenv("ORVEX_RPC_LOG");
    }
    void TearDown() override {
        // No pad file and no pad directory outlives its session.
        EXPECT_TRUE(
            QDir(m_dir->path() + "/tmp").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
    static QString logPath() { return QString::fromUtf8(getenv("ORVEX_OXF_LOG_FILE")); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new LinkEnvironment);

QByteArray readLog() {
    QFile f(LinkEnvironment::logPath());
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void clearLog() {
    QFile::remove(LinkEnvironment::logPath());
}

MasterReply runOn(MasterSession& session, ImageRecord& image, const std::string& params,
                  const ImageRecord* selection = nullptr) {
    MasterRun run;
    run.image = &image;
    run.selection = selection;
    run.params = params;
    run.timeoutSeconds = 60;
    return session.run(run);
}

int exitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -100 - (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

bool processGone(pid_t pid) {
    return kill(pid, 0) != 0;
}

} // namespace

TEST(Link, HandshakeRunsAndQuit) {
    ScopedEnv autoApply("ELEMORAMA_AUTO", "apply"); // for the run without parameters
    MasterSession session(fxPath());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(session.padPath()))); // the name is gone once linked
    ImageRecord image = makeImage(33, 17, ColorModel::RGB, -1, false);
    const ImageRecord original = image;
    // A batch node that names no effect leaves the image as it is (the effect engine serves `effect`).
    for (int run = 0; run < 3; ++run) {
        const MasterReply reply =
            runOn(session, image, "batch\n{\n    label rain\n    set { Amount 40 }\n}\n");
        EXPECT_EQ(reply.status, 0) << reply.error;
        EXPECT_EQ(reply.params,
                  writeParameterText(parseParameterText("batch { label rain\nset { Amount 40 } }")));
        EXPECT_EQ(image.samples, original.samples);
    }
    // A run without parameters replies with none.
    EXPECT_EQ(runOn(session, image, "").params, "");
    const pid_t pid = session.childPid();
    EXPECT_EQ(session.quit(), 0);
    EXPECT_TRUE(processGone(pid));
}

TEST(Link, ParameterTextsAreCheckedBeforeParsing) {
    MasterSession session(fxPath());
    ImageRecord image = makeImage(8, 8, ColorModel::Grey, -1, false);
    auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += "a {\n";
        for (int i = 0; i < depth; ++i) text += "}\n";
        return text;
    };
    struct Case {
        std::string text;
        int status;
        const char* error;
    } cases[] = {
        {"#include \"/etc/passwd\"\n", 2, "#include"},
        {"batch\nx { #include \"/dev/zero\" }\n", 2, "#include"},
        {nested(65), 2, "nested deeper than 64"},
        {"batch\n" + nested(64), 0, ""},
        {std::string(MaxParameterTextSize + 1, 'a'), 2, "limit"},
        {"a {\n", 2, "cannot be read"},
        {"batch \"quoted { braces\" ; a comment {{{{\n", 0, ""},
    };
    for (const Case& c : cases) {
        const MasterReply reply = runOn(session, image, c.text);
        EXPECT_EQ(reply.status, c.status) << c.text.substr(0, 40);
        EXPECT_NE(reply.error.find(c.error), std::string::npos) << reply.error;
        if (c.status != 0) {
            EXPECT_TRUE(reply.params.empty());
        }
    }
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, PluginNameIsCompared) {
    ImageRecord image = makeImage(8, 8, ColorModel::RGB, -1, false);
    {
        MasterSession session(fxPath());
        MasterRun run;
        run.image = &image;
        run.pluginName = " ELEMO rama ";
        run.params = "batch";
        EXPECT_EQ(session.run(run).status, 0);
        EXPECT_EQ(session.quit(), 0);
    }
    MasterSession session(fxPath());
    MasterRun run;
    run.image = &image;
    run.pluginName = "Another";
    try {
        session.run(run);
        FAIL() << "a run for another plug-in was served";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("exit code 2"), std::string::npos) << e.what();
    }
}

TEST(Link, ImagesTravelExactlyInEveryModelAndType) {
    MasterSession session(fxPath());
    uint32_t seed = 1;
    for (ColorModel model : {ColorModel::RGB, ColorModel::Grey, ColorModel::CMYK, ColorModel::Lab})
        for (int type : {-1, -2, -3})
            for (bool alpha : {false, true}) {
                SCOPED_TRACE(testing::Message() << int(model) << " " << type << " " << alpha);
                ImageRecord image = makeImage(131, 70, model, type, alpha, ++seed);
                const ImageRecord original = image;
                const MasterReply reply = runOn(session, image, "batch");
                ASSERT_EQ(reply.status, 0) << reply.error;
                EXPECT_TRUE(image.samples == original.samples);
                // Without transparency in the host the process fills its own and asks for none.
                EXPECT_EQ(reply.channelsRead, image.colorChannels() + (alpha ? 1 : 0));
            }
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, WideImagesTravelInStripesAndBlocks) {
    // 16-bit rows of 280,000 bytes: stripes of 256 rows, each larger than one data block.
    MasterSession session(fxPath());
    ImageRecord image = makeImage(140000, 300, ColorModel::Grey, -2, false, 9);
    const ImageRecord original = image;
    const MasterReply reply = runOn(session, image, "batch");
    ASSERT_EQ(reply.status, 0) << reply.error;
    EXPECT_EQ(reply.channelsRead, 2);
    EXPECT_EQ(reply.channelsWritten, 2); // grey only, in two stripes: the host has no transparency
    EXPECT_TRUE(image.samples == original.samples);
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, TransparencyLockedOrMissing) {
    MasterSession session(fxPath());
    ImageRecord rgba = makeImage(20, 10, ColorModel::RGB, -1, true);
    MasterRun run;
    run.image = &rgba;
    run.params = "batch";
    run.transparencyLocked = true;
    MasterReply reply = session.run(run);
    EXPECT_EQ(reply.channelsRead, 4);
    EXPECT_EQ(reply.channelsWritten, 3);
    run.transparencyLocked = false;
    EXPECT_EQ(session.run(run).channelsWritten, 4);
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, SelectionsReachTheProcessor) {
    ScopedEnv slave("ORVEX_TEST_SLAVE", "fx");
    MasterSession session(selfPath());
    ImageRecord image = makeImage(300, 300, ColorModel::RGB, -2, true);
    auto boxOf = [&](const ImageRecord* selection) {
        return runOn(session, image, "batch { mode box }", selection).error;
    };
    EXPECT_EQ(boxOf(nullptr), "box 0 0 300 300 all");
    const ImageRecord empty = makeMask(300, 300, 0), full = makeMask(300, 300, 255),
                      half = makeMask(300, 300, 128);
    EXPECT_EQ(boxOf(&empty), "box 0 0 0 0 sel");
    EXPECT_EQ(boxOf(&full), "box 0 0 300 300 sel");
    EXPECT_EQ(boxOf(&half), "box 0 0 300 300 sel");
    ImageRecord onePixel = makeMask(300, 300, 0);
    onePixel.samples[size_t(207) * 300 + 105] = 1;
    EXPECT_EQ(boxOf(&onePixel), "box 105 207 106 208 sel");
    ImageRecord block = makeMask(300, 300, 0);
    for (int y = 64; y < 192; ++y)
        for (int x = 70; x < 250; ++x) block.samples[size_t(y) * 300 + size_t(x)] = 200;
    block.samples[size_t(299) * 300 + 3] = 9;
    EXPECT_EQ(boxOf(&block), "box 3 64 250 300 sel");
    // A request rectangle at (100, 200): the mask is cut to the pixel, the box is in host coordinates.
    EXPECT_EQ(runOn(session, image, "batch { mode mask\nl 100\nt 200\nr 300\nb 300 }", &onePixel).error,
              "mask 1 1 105 207 106 208");
    EXPECT_EQ(runOn(session, image, "batch { mode mask\nl 0\nt 0\nr 300\nb 300 }", &empty).error,
              "mask 0 0 0 0 0 0");
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, ProcessedResultsComeBackAndFailuresAreReplies) {
    ScopedEnv slave("ORVEX_TEST_SLAVE", "fx");
    MasterSession session(selfPath());
    ImageRecord image = makeImage(90, 70, ColorModel::RGB, -1, true);
    const ImageRecord original = image;
    ImageRecord selection = makeMask(90, 70, 0);
    for (int y = 10; y < 20; ++y)
        for (int x = 5; x < 80; ++x) selection.samples[size_t(y) * 90 + size_t(x)] = 255;
    MasterReply reply = runOn(session, image, "batch { mode invert }", &selection);
    ASSERT_EQ(reply.status, 0) << reply.error;
    EXPECT_EQ(reply.channelsWritten, 3); // the result holds no transparency
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) {
            const bool inside = y >= 10 && y < 20 && x >= 5 && x < 80;
            const size_t at = (size_t(y) * 90 + size_t(x)) * 4;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(image.samples[at + c],
                          inside ? 255 - original.samples[at + c] : original.samples[at + c]);
            ASSERT_EQ(image.samples[at + 3], original.samples[at + 3]);
        }
    reply = runOn(session, image, "batch { mode cancel }");
    EXPECT_EQ(reply.status, 1);
    EXPECT_TRUE(reply.params.empty());
    reply = runOn(session, image, "batch { mode fail }");
    EXPECT_EQ(reply.status, 2);
    EXPECT_EQ(reply.error, "effect failed on purpose");
    EXPECT_EQ(runOn(session, image, "batch").status, 0); // the process goes on serving
    EXPECT_EQ(session.quit(), 0);
}

TEST(Link, DeadSlaveAndHangingSlaveAreReported) {
    ImageRecord image = makeImage(8, 8, ColorModel::RGB, -1, false);
    {
        ScopedEnv slave("ORVEX_TEST_SLAVE", "die");
        MasterSession session(selfPath());
        try {
            runOn(session, image, "batch");
            FAIL();
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("exit code 7"), std::string::npos) << e.what();
        }
    }
    ScopedEnv slave("ORVEX_TEST_SLAVE", "hang");
    MasterSession session(selfPath());
    const pid_t pid = session.childPid();
    MasterRun run;
    run.image = &image;
    run.timeoutSeconds = 1;
    try {
        session.run(run);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("did not answer within 1 s"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(processGone(pid));
}

namespace {
// Starts the effect process under a master in a child process that then dies; returns the slave's
// exit code (the slave is re-parented to this process).
int slaveExitAfterMasterDies(bool quitFirst) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t master = fork();
    if (master == 0) {
        close(fds[0]);
        try {
            MasterSession session(fxPath());
            const pid_t slave = session.childPid();
            if (quitFirst)
                __atomic_exchange_n(&session.broker().pad()->msg_id_, uint32_t(M2S_Quit), __ATOMIC_SEQ_CST);
            (void)!write(fds[1], &slave, sizeof slave);
            pause();
        } catch (...) {
        }
        _exit(0);
    }
    close(fds[1]);
    pid_t slave = 0;
    EXPECT_EQ(read(fds[0], &slave, sizeof slave), ssize_t(sizeof slave));
    close(fds[0]);
    kill(master, SIGKILL);
    int status = 0;
    waitpid(master, &status, 0);
    if (slave <= 0) return -1;
    waitpid(slave, &status, 0);
    return exitCodeOf(status);
}
} // namespace

TEST(Link, DeadMasterEndsTheSlave) {
    EXPECT_EQ(slaveExitAfterMasterDies(false), 1);
    EXPECT_EQ(slaveExitAfterMasterDies(true), 0);
}

namespace {
// A master Broker on the real effect process with the given pad change; returns the slave's exit
// code and leaves the link log in `log`.
int slaveExitWith(const std::function<void(OXFDataPad*)>& beforeStart,
                  const std::function<void(Broker&)>& linked, bool connect, QByteArray* log) {
    clearLog();
    QTemporaryDir dir(QString::fromStdString(padDirectoryBase()) + "/pad-XXXXXX");
    Broker::MasterOptions options;
    options.beforeStart = beforeStart;
    options.connect = connect;
    int status = -1;
    {
        Broker broker((dir.path() + "/pad").toStdString(), fxPath(), options);
        if (linked) linked(broker);
        broker.reapChild(15000);
        status = broker.childStatus();
    }
    *log = readLog();
    return exitCodeOf(status);
}
} // namespace

TEST(Link, SlaveRefusesBadPadsAndGivesUpOnSilentMasters) {
    QByteArray log;
    EXPECT_EQ(slaveExitWith([](OXFDataPad* pad) { pad->revision_ = 3; }, nullptr, false, &log), 2);
    EXPECT_TRUE(log.contains("BrokerBase: OXF_REVISION mismatch")) << log.constData();
    EXPECT_TRUE(log.contains("OXF_REVISION == 4, pad->revision_ == 3"));
    EXPECT_EQ(slaveExitWith([](OXFDataPad* pad) { pad->revision_ = 5; }, nullptr, false, &log), 2);

    {
        ScopedEnv timeouts("ORVEX_OXF_TIMEOUTS_MS", "700,700,200");
        // No handshake at all.
        EXPECT_EQ(slaveExitWith(nullptr, nullptr, false, &log), 2);
        EXPECT_TRUE(log.contains("Broker ctor: slave timeout")) << log.constData();
        // Handshake, then silence.
        EXPECT_EQ(
            slaveExitWith(
                nullptr, [](Broker&) { std::this_thread::sleep_for(std::chrono::seconds(2)); }, true, &log),
            2);
        EXPECT_TRUE(log.contains("Broker: Timeout")) << log.constData();
    }
    // The host reports a fatal error.
    EXPECT_EQ(slaveExitWith(
                  nullptr, [](Broker& b) { b.pad()->host_fatal_ = 1; }, true, &log),
              2);
    EXPECT_TRUE(log.contains("Fatal error in host process\nCan't continue")) << log.constData();
    // The shutdown flag ends the slave quietly.
    EXPECT_EQ(slaveExitWith(
                  nullptr,
                  [](Broker& b) {
                      __atomic_or_fetch(&b.pad()->flags, OXFDataPad::FlagShutdown, __ATOMIC_SEQ_CST);
                      sem_post(&b.pad()->sem_slave);
                  },
                  true, &log),
              1);
}

namespace {
int runFx(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execv(fxPath().c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return exitCodeOf(status);
}
} // namespace

TEST(Link, RefusesToRunWithoutAGoodLink) {
    clearLog();
    EXPECT_EQ(runFx({"elemorama-fx"}), 1);
    EXPECT_TRUE(readLog().contains("Please don't run this file directly"));
    QTemporaryDir dir;
    QFile small(dir.filePath("pad"));
    ASSERT_TRUE(small.open(QIODevice::WriteOnly));
    small.write(QByteArray(4096, '\0'));
    small.close();
    clearLog();
    EXPECT_EQ(runFx({"--master-link=" + small.fileName().toStdString()}), 2);
    EXPECT_TRUE(readLog().contains("BrokerBase: OXFDataPad size mismatch"));
    EXPECT_EQ(runFx({"--master-link=" + dir.filePath("missing").toStdString()}), 2);
}

TEST(Link, TraceLogFollowsTheRun) {
    clearLog();
    {
        ScopedEnv trace("ORVEX_RPC_LOG", "1");
        MasterSession session(fxPath());
        ImageRecord image = makeImage(8, 8, ColorModel::RGB, -1, false);
        runOn(session, image, "batch");
        EXPECT_EQ(session.quit(), 0);
    }
    const QByteArray log = readLog();
    EXPECT_TRUE(log.contains("[S]: [S] mainOXF start")) << log.left(300).constData();
    EXPECT_TRUE(log.contains("[S]: Received M2S_Run"));
    EXPECT_TRUE(log.contains("[S]: getChannel( 2, [0,0,8,8] )"));
    EXPECT_TRUE(log.contains("[S]: Received M2S_Quit"));
}

namespace {
// Sends one stream of `size` bytes to the scripted slave; returns {last block number, pattern ok}.
std::pair<int, int> streamToSlave(Broker& broker, uint64_t size) {
    EXPECT_TRUE(broker.send_message(M2S_Run, &size, sizeof size, 10));
    EXPECT_EQ(broker.msg_id(), uint32_t(S2M_GetChannel));
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = streamPattern(i);
    EXPECT_TRUE(broker.send_data_block(data.data(), size));
    EXPECT_EQ(broker.msg_id(), uint32_t(S2M_Done));
    int32_t result[2];
    memcpy(result, broker.data(), sizeof result);
    return {result[0], result[1]};
}
} // namespace

TEST(Link, StreamsAtTheBlockBoundary) {
    ScopedEnv slave("ORVEX_TEST_SLAVE", "stream");
    QTemporaryDir dir(QString::fromStdString(padDirectoryBase()) + "/pad-XXXXXX");
    {
        Broker broker((dir.path() + "/pad").toStdString(), selfPath(), {});
        EXPECT_EQ(streamToSlave(broker, OXFDataPad::MaxDataSize),
                  std::make_pair(0, 1)); // one block, no clear-to-send
        EXPECT_EQ(streamToSlave(broker, OXFDataPad::MaxDataSize + 1), std::make_pair(1, 1)); // two blocks
        EXPECT_EQ(streamToSlave(broker, 3), std::make_pair(0, 1));
    }
}

TEST(Link, BrokenStreamsAreRefused) {
    ScopedEnv slave("ORVEX_TEST_SLAVE", "bad-stream");
    QTemporaryDir dir(QString::fromStdString(padDirectoryBase()) + "/pad-XXXXXX");
    Broker broker((dir.path() + "/pad").toStdString(), selfPath(), {});
    const uint64_t size = 1;
    ASSERT_TRUE(broker.send_message(M2S_Run, &size, sizeof size, 10));
    uint8_t byte = 0;
    try {
        broker.receive_data_block(&byte, 1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("pad()->msg_block_ == block_number"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(byte, 0); // nothing of the refused block was copied
}
