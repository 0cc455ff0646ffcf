#include "oxf/InteractiveRun.h"
#include "oxf/LinkMessages.h"
#include "oxf/LinkLog.h"

#include <QEventLoop>
#include <QTimer>

#include <vector>

#include <algorithm>
#include <cstdlib>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace Orvex::OXF {

AutoAction autoActionFromEnvironment() {
    const char* text = getenv("ELEMORAMA_AUTO");
    if (!text || !*text) return AutoAction::None;
    if (strcmp(text, "apply") == 0) return AutoAction::Apply;
    if (strcmp(text, "cancel") == 0) return AutoAction::Cancel;
    qWarning("ELEMORAMA_AUTO=%s is not \"apply\" or \"cancel\"; the run waits for the user", text);
    return AutoAction::None;
}

void checkRunRequest(const HostRequest& request) {
    const std::string problem = runRequestProblem(request);
    if (!problem.empty()) throw std::runtime_error(problem);
}

namespace {
std::vector<std::function<void()>>& deferredWork() {
    static std::vector<std::function<void()>> work; // GUI thread only
    return work;
}
} // namespace

void deferUntilReplied(std::function<void()> work) {
    if (work) deferredWork().push_back(std::move(work));
}

void runDeferredWork() {
    // Taken out first: the work may defer more, which then waits for the next reply.
    std::vector<std::function<void()>> work;
    work.swap(deferredWork());
    for (auto& w : work) {
        try {
            w();
        } catch (const std::exception& e) {
            qWarning("deferred work failed: %s", e.what());
        } catch (...) {
            qWarning("deferred work failed");
        }
    }
}

bool putHostChannels(const PixelPlane& plane, const RectI& rect) {
    const PixelFormat format = dsChannelType(hostHasTransparency());
    for (int i = 0; i < format.count(); ++i) {
        const int id = format.identifier(i);
        const Ref<DataChannel> channel = plane.channel(id);
        if (channel && !putChannel(*channel, id, rect)) return false;
    }
    return true;
}

InteractiveRun::InteractiveRun() : m_auto(autoActionFromEnvironment()) {}

InteractiveRun::~InteractiveRun() = default;

// Memory the system can still give (MemAvailable), in bytes; 0 when unknown.
static uint64_t availableMemory() {
    FILE* f = fopen("/proc/meminfo", "r");
    if (!f) return 0;
    char line[256];
    uint64_t kib = 0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "MemAvailable: %" SCNu64 " kB", &kib) == 1) break;
    fclose(f);
    return kib * 1024;
}

void checkMemoryForWindow(const HostRequest& request) {
    // The window holds the host plane, its working copy, the result and the document's steps:
    // about seven copies of the image in four channels.
    const int channels = request.colorMode == ModeGrey ? 2 : request.colorMode == ModeCMYK ? 5 : 4;
    const uint64_t bytes = uint64_t(request.width) * uint64_t(request.height) * uint64_t(channels) *
                           uint64_t(request.bytesPerSample) * 7;
    const uint64_t available = availableMemory();
    if (available && bytes > available)
        throw std::runtime_error("The image of " + std::to_string(request.width) + " x " +
                                 std::to_string(request.height) + " pixels needs about " +
                                 std::to_string(bytes >> 20) + " MiB to edit, but only " +
                                 std::to_string(available >> 20) + " MiB of memory are available");
}

void InteractiveRun::load() {
    checkRunRequest(hostRequest());
    checkMemoryForWindow(hostRequest());
    const RectI image = hostImageRect();
    m_selectionBox = image;
    if (!getPlane(m_source, image, true)) throw std::runtime_error("Cannot read the image from the host");
    if (hostHasSelection() && !getMask(m_selection, image, m_selectionBox, false))
        throw std::runtime_error("Cannot read the selection from the host");
    LinkLog::trace("interactive run loaded, waiting for the user\n");
}

bool InteractiveRun::takeAutoApply() {
    if (m_auto != AutoAction::Apply) return false;
    m_auto = AutoAction::None;
    return true;
}

bool InteractiveRun::apply(const PixelPlane& result) {
    if (m_finished || m_applied) return m_applied;
    try {
        if (!m_source || result.size() != m_source->size())
            throw std::runtime_error("The result is not the size of the host image");
        if (!putHostChannels(result, hostImageRect()))
            throw std::runtime_error("Cannot write the image to the host");
        m_applied = true;
        return true;
    } catch (...) {
        fail(std::current_exception());
        return false;
    }
}

void InteractiveRun::fail(std::exception_ptr failure) {
    if (!m_failure) m_failure = failure;
    finish(Failed);
}

void InteractiveRun::finish(int16_t code) {
    if (m_finished) return;
    m_finished = true;
    m_code = code;
    if (m_loop) m_loop->quit();
}

QString InteractiveRun::failureText() const {
    if (!m_failure) return {};
    try {
        std::rethrow_exception(m_failure);
    } catch (const silent_exception&) {
        return {};
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

void InteractiveRun::watch() {
    Broker* broker = currentBroker();
    if (!broker || m_finished) return;
    try {
        broker->checkOtherSide();
    } catch (...) {
        fail(std::current_exception());
    }
}

int16_t InteractiveRun::exec() {
    if (m_finished) return m_code;
    QEventLoop loop;
    m_loop = &loop;
    QTimer watchdog;
    watchdog.setInterval(std::clamp(BrokerTimeouts::current().roundMs, 50, 500));
    QObject::connect(&watchdog, &QTimer::timeout, [this] { watch(); });
    watchdog.start();
    if (m_auto != AutoAction::None && !m_finished) {
        // After the window (if any) has shown itself, through the same path as the user's choice.
        QTimer::singleShot(0, &loop, [this] {
            if (m_finished) return;
            if (m_auto == AutoAction::Cancel)
                finish(Cancelled);
            else if (apply(*m_source))
                finish(Applied);
        });
    }
    if (!m_finished) loop.exec();
    m_loop = nullptr;
    return m_code;
}

} // namespace Orvex::OXF
