// elemorama-render and elemorama edit killed (SIGKILL, the whole process group) at random moments
// of runs that write over an existing output: afterwards the output is the previous file or the
// complete new one, byte for byte, never torn or missing, and a killed writer's temporary is gone
// after the next run that saves.
//
// The moments are drawn from a seeded generator (ELEMORAMA_KILL_SEED to replay another sequence,
// ELEMORAMA_KILL_RUNS for another number of runs per program). Half of them are spread over the
// whole run; the other half wait for the writer's temporary to appear and strike within the time
// the write takes, so that a good share land while the file is being written whatever the load.
#include "imageio/ImageIO.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Orvex;

namespace {

using Clock = std::chrono::steady_clock;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool putBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The writer's temporaries beside `target`.
QStringList temporariesOf(const QString& target) {
    const QFileInfo info(target);
    return QDir(info.absolutePath())
        .entryList({QStringLiteral(".") + info.fileName() + QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
}

unsigned envNumber(const char* name, unsigned fallback) {
    const char* value = getenv(name);
    return value && *value ? unsigned(strtoul(value, nullptr, 10)) : fallback;
}

ImageIO::ImageRecord testImage(int w, int h, uint32_t seed) {
    ImageIO::ImageRecord img;
    img.width = w, img.height = h, img.model = ImageIO::ColorModel::RGB, img.sampleType = ImageIO::UInt8;
    img.allocate();
    std::mt19937 rng(seed);
    // A gradient with noise: the encoders have real work, as with a photograph.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) img.row(y)[x] = uint8_t((x / 3 + y * 2 + x % 3 * 60) / 4 + rng() % 48);
    return img;
}

// Starts `args` in a process group of its own with the standard streams on /dev/null.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);
    return pid;
}

struct Plan {
    enum Kind { Never, AtMs, AfterTemporaryMs } kind = Never;
    double ms = 0;
};

struct Outcome {
    bool killed = false;
    int exitCode = -1;
    double endMs = 0;
    double temporaryMs = -1; // when the run's own temporary appeared
};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Outcome runOnce(const std::vector<std::string>& args, const QString& target, const Plan& plan) {
    Outcome out;
    const QStringList before = temporariesOf(target);
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(args);
    if (pid < 0) return out;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            out.endMs = msSince(start);
            out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return out;
        }
        const double now = msSince(start);
        if (out.temporaryMs < 0 && plan.kind != Plan::AtMs)
            for (const QString& name : temporariesOf(target))
                if (!before.contains(name)) out.temporaryMs = now;
        const bool due = (plan.kind == Plan::AtMs && now >= plan.ms) ||
                         (plan.kind == Plan::AfterTemporaryMs && out.temporaryMs >= 0 &&
                          now >= out.temporaryMs + plan.ms) ||
                         now > 120000;
        if (due) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            out.killed = true;
            out.endMs = now;
            return out;
        }
        usleep(300);
    }
}

struct Program {
    std::string name;
    std::vector<std::string> (*args)(const std::string& in, const std::string& out);
};

void PrintTo(const Program& program, std::ostream* os) {
    *os << program.name;
}

std::vector<std::string> renderArgs(const std::string& in, const std::string& out) {
    return {ELEMORAMA_BIN_DIR "/elemorama-render", "-q", "--effect", "Sun", in, "-o", out};
}

std::vector<std::string> editArgs(const std::string& in, const std::string& out) {
    return {ELEMORAMA_BIN_DIR "/elemorama", "edit", in, "-o", out, "--effect", "Sun", "--batch"};
}

class KillDuringSave : public ::testing::TestWithParam<Program> {
protected:
    QTemporaryDir dir;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A private settings store, and the link's pads beside the files (a kill before the pad's
        // name is removed leaves it there, to go with the directory).
        setenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")).constData(), 1);
        QDir(dir.path()).mkdir("runtime");
        QFile::setPermissions(dir.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath("runtime")).constData(), 1);
    }
};

} // namespace

TEST_P(KillDuringSave, OutputIsThePreviousOrTheCompleteNewFile) {
    const Program& program = GetParam();
    const unsigned seed = envNumber("ELEMORAMA_KILL_SEED", 20261207);
    const unsigned runs = envNumber("ELEMORAMA_KILL_RUNS", 200);
    RecordProperty("seed", int(seed));
    SCOPED_TRACE("ELEMORAMA_KILL_SEED=" + std::to_string(seed));

    const QString in = dir.filePath("in.png");
    ImageIO::saveImage(testImage(600, 400, 1), in);
    const QByteArray input = bytesOf(in);

    struct Format {
        QString out;
        QByteArray previous, reference;
        double writeMs = 0, endMs = 0; // running estimates of the write's length and the run's
    };
    std::vector<Format> formats;
    for (const char* ext : {"png", "tif", "jpg", "ppm"}) {
        Format f;
        f.out = dir.filePath(QStringLiteral("out.") + ext);
        ImageIO::saveImage(testImage(64, 48, 2), f.out);
        f.previous = bytesOf(f.out);
        // Two complete runs: the reference (they must agree) and the timing of the write (a fast
        // one may come and go between two looks).
        for (int k = 0; k < 2; ++k) {
            const Outcome o = runOnce(program.args(in.toStdString(), f.out.toStdString()), f.out, {});
            ASSERT_EQ(o.exitCode, 0) << program.name << " " << ext;
            const QByteArray bytes = bytesOf(f.out);
            if (k == 0) f.reference = bytes;
            ASSERT_TRUE(bytes == f.reference) << "the output is not reproducible";
            if (o.temporaryMs >= 0) f.writeMs = std::max(f.writeMs, o.endMs - o.temporaryMs);
            f.endMs = std::max(f.endMs, o.endMs);
        }
        f.writeMs = std::max(f.writeMs, 1.0);
        ASSERT_TRUE(f.reference != f.previous);
        formats.push_back(f);
    }

    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    unsigned duringWrite = 0, keptPrevious = 0, completed = 0;
    const Clock::time_point start = Clock::now();
    for (unsigned i = 0; i < runs; ++i) {
        Format& f = formats[i % formats.size()];
        SCOPED_TRACE(QStringLiteral("run %1, %2").arg(i).arg(QFileInfo(f.out).fileName()).toStdString());
        ASSERT_TRUE(putBytes(f.out, f.previous));
        const QStringList leftBefore = temporariesOf(f.out);
        Plan plan;
        if (unit(rng) < 0.5)
            plan = {Plan::AtMs, unit(rng) * f.endMs * 1.1};
        else
            plan = {Plan::AfterTemporaryMs, unit(rng) * f.writeMs};
        const Outcome o = runOnce(program.args(in.toStdString(), f.out.toStdString()), f.out, plan);
        if (!o.killed) {
            // Finished before the kill: the complete new file and nothing left behind.
            EXPECT_EQ(o.exitCode, 0);
            EXPECT_TRUE(bytesOf(f.out) == f.reference);
            EXPECT_TRUE(temporariesOf(f.out).isEmpty()) << temporariesOf(f.out).join(' ').toStdString();
            if (o.temporaryMs >= 0) f.writeMs = 0.8 * f.writeMs + 0.2 * (o.endMs - o.temporaryMs);
            f.endMs = 0.8 * f.endMs + 0.2 * o.endMs;
            ++completed;
            continue;
        }
        ASSERT_TRUE(QFile::exists(f.out)) << "the output went missing";
        const QByteArray now = bytesOf(f.out);
        if (now == f.previous) {
            ++keptPrevious;
        } else {
            ASSERT_TRUE(now == f.reference) << "torn output (" << now.size() << " bytes, previous " << f.previous.size()
                                        << ", new " << f.reference.size() << ")";
        }
        // At most the killed run's own temporary is left: a run that came as far as saving removed
        // the one an earlier kill had left.
        const QStringList left = temporariesOf(f.out);
        EXPECT_LE(left.size(), 1) << left.join(' ').toStdString();
        if (o.temporaryMs >= 0) {
            for (const QString& old : leftBefore) EXPECT_FALSE(left.contains(old)) << old.toStdString();
        }
        if (!left.isEmpty() && !leftBefore.contains(left.first())) ++duringWrite;
    }
    const double seconds = msSince(start) / 1000;

    // A last complete run over every format leaves only the outputs.
    for (Format& f : formats) {
        ASSERT_EQ(runOnce(program.args(in.toStdString(), f.out.toStdString()), f.out, {}).exitCode, 0);
        EXPECT_TRUE(bytesOf(f.out) == f.reference);
        EXPECT_TRUE(temporariesOf(f.out).isEmpty());
    }
    EXPECT_TRUE(bytesOf(in) == input);

    printf("%s: %u runs in %.1f s: %u killed while writing, %u kept the previous file, %u completed\n",
           program.name.c_str(), runs, seconds, duringWrite, keptPrevious, completed);
    EXPECT_GE(duringWrite, runs / 8) << "too few kills came during the write";
    EXPECT_GT(keptPrevious, 0u);
    EXPECT_GT(runs - keptPrevious, 0u);
}

INSTANTIATE_TEST_SUITE_P(Programs, KillDuringSave,
                         ::testing::Values(Program{"render", renderArgs}, Program{"edit", editArgs}),
                         [](const ::testing::TestParamInfo<Program>& info) { return info.param.name; });
