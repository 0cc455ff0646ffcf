#include "oxf/MasterSession.h"
#include "oxf/LinkLog.h"
#include "oxf/OXF.h"
#include "oxf/RowStream.h"
#include "mt/JobsPool.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace Orvex::OXF {

using ImageIO::ColorModel;
using ImageIO::ImageRecord;

namespace {

struct ChannelRequest {
    int32_t left, top, right, bottom, code;
};

int8_t colorModeOf(ColorModel model) {
    switch (model) {
    case ColorModel::RGB:
        return ModeRGB;
    case ColorModel::Lab:
        return ModeLab;
    case ColorModel::Grey:
        return ModeGrey;
    case ColorModel::CMYK:
        return ModeCMYK;
    }
    return ModeRGB;
}

// The component of a pixel that a host channel code names: 0... for colours, -1 alpha, -2 the
// selection, -3 unknown.
int componentOf(ColorModel model, int code) {
    switch (code) {
    case 1:
    case 2:
        return -1;
    case 3:
        return -2;
    case 10:
        return model == ColorModel::Grey ? 0 : -3;
    case 4:
    case 5:
    case 6:
        return model == ColorModel::RGB ? code - 4 : -3;
    case 7:
    case 8:
    case 9:
        return model == ColorModel::Lab ? code - 7 : -3;
    case 11:
    case 12:
    case 13:
    case 14:
        return model == ColorModel::CMYK ? code - 11 : -3;
    default:
        return -3;
    }
}

// Copies one component of interleaved pixels to contiguous samples and back. The pixel stride is a
// compile-time constant for the layouts images have, so that the loops vectorise.
template <class T, size_t Stride> void gatherFixed(const uint8_t* src, uint8_t* dst, size_t count) {
    T* out = reinterpret_cast<T*>(dst);
    for (size_t i = 0; i < count; ++i) memcpy(out + i, src + i * Stride, sizeof(T));
}
template <class T, size_t Stride> void scatterFixed(const uint8_t* src, uint8_t* dst, size_t count) {
    const T* in = reinterpret_cast<const T*>(src);
    for (size_t i = 0; i < count; ++i) memcpy(dst + i * Stride, in + i, sizeof(T));
}

template <class T> void gatherRow(const uint8_t* src, size_t stride, uint8_t* dst, size_t count) {
    switch (stride / sizeof(T)) {
    case 1:
        return gatherFixed<T, sizeof(T)>(src, dst, count);
    case 2:
        return gatherFixed<T, 2 * sizeof(T)>(src, dst, count);
    case 3:
        return gatherFixed<T, 3 * sizeof(T)>(src, dst, count);
    case 4:
        return gatherFixed<T, 4 * sizeof(T)>(src, dst, count);
    default:
        return gatherFixed<T, 5 * sizeof(T)>(src, dst, count);
    }
}

template <class T> void scatterRow(const uint8_t* src, uint8_t* dst, size_t stride, size_t count) {
    switch (stride / sizeof(T)) {
    case 1:
        return scatterFixed<T, sizeof(T)>(src, dst, count);
    case 2:
        return scatterFixed<T, 2 * sizeof(T)>(src, dst, count);
    case 3:
        return scatterFixed<T, 3 * sizeof(T)>(src, dst, count);
    case 4:
        return scatterFixed<T, 4 * sizeof(T)>(src, dst, count);
    default:
        return scatterFixed<T, 5 * sizeof(T)>(src, dst, count);
    }
}

void gatherRow(const uint8_t* src, size_t stride, uint8_t* dst, size_t count, int bytes) {
    if (bytes == 1)
        gatherRow<uint8_t>(src, stride, dst, count);
    else if (bytes == 2)
        gatherRow<uint16_t>(src, stride, dst, count);
    else
        gatherRow<uint32_t>(src, stride, dst, count);
}

void scatterRow(const uint8_t* src, uint8_t* dst, size_t stride, size_t count, int bytes) {
    if (bytes == 1)
        scatterRow<uint8_t>(src, dst, stride, count);
    else if (bytes == 2)
        scatterRow<uint16_t>(src, dst, stride, count);
    else
        scatterRow<uint32_t>(src, dst, stride, count);
}

// Rows per chunk when a block's rows are shared out over the jobs pool: about 256 KiB of the block,
// so that small images stay on one thread.
uint32_t rowGrain(size_t rowBytes) {
    return uint32_t(std::max<size_t>(1, (size_t(256) << 10) / std::max<size_t>(1, rowBytes)));
}

// The selection in the image's sample type, one sample per pixel.
std::vector<uint8_t> selectionSamples(const ImageRecord& selection, int sampleType) {
    const size_t pixels = size_t(selection.width) * size_t(selection.height);
    const int inBytes = selection.bytesPerSample();
    const size_t inStride = selection.pixelBytes();
    std::vector<uint8_t> out(pixels * size_t(sampleType == -1 ? 1 : sampleType == -2 ? 2 : 4));
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = selection.samples.data() + i * inStride;
        double v;
        if (inBytes == 1)
            v = *p / 255.0;
        else if (inBytes == 2) {
            uint16_t s;
            memcpy(&s, p, 2);
            v = s / 65535.0;
        } else {
            float f;
            memcpy(&f, p, 4);
            v = f;
        }
        if (sampleType == -1)
            out[i] = uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
        else if (sampleType == -2) {
            const uint16_t s = uint16_t(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0));
            memcpy(&out[i * 2], &s, 2);
        } else {
            const float f = float(v);
            memcpy(&out[i * 4], &f, 4);
        }
    }
    return out;
}

double sinceStart(const MasterReply& reply) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - reply.start).count();
}

std::string describeStatus(int status) {
    if (status < 0) return "was stopped";
    if (WIFEXITED(status)) return "ended with exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

} // namespace

// The pad is a 64 MiB shared mapping: it belongs on a memory file system, where its pages are never
// written back to a disk. The user's runtime directory is that (and private); /dev/shm next.
std::string padDirectoryBase() {
    auto usable = [](const char* dir) {
        struct stat st;
        return dir && *dir && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK | X_OK) == 0;
    };
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); usable(runtime)) return runtime;
    if (usable("/dev/shm")) return "/dev/shm";
    const char* tmp = getenv("TMPDIR");
    return usable(tmp) ? tmp : "/tmp";
}

std::string effectProcessBesideSelf() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "elemorama-fx";
    std::string self(path, size_t(n));
    return self.substr(0, self.rfind('/') + 1) + "elemorama-fx";
}

MasterSession::MasterSession(const std::string& fxPath, const Broker::MasterOptions& options) {
    std::string pattern = padDirectoryBase() + "/elemorama-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("Cannot create a private temporary directory: " +
                                 std::string(strerror(errno)));
    m_dir = buffer.data();
    m_padPath = m_dir + "/pad";
    LinkLog::setSide('M');
    try {
        m_broker = std::make_unique<Broker>(m_padPath, fxPath, options);
    } catch (...) {
        unlink(m_padPath.c_str());
        rmdir(m_dir.c_str());
        throw;
    }
    // Both sides hold the mapping now; the name is no longer needed.
    if (options.connect) {
        unlink(m_padPath.c_str());
        rmdir(m_dir.c_str());
    }
}

MasterSession::~MasterSession() {
    if (!m_ended && m_broker) {
        try {
            quit(2000);
        } catch (...) {
        }
    }
    m_broker.reset();
    unlink(m_padPath.c_str());
    rmdir(m_dir.c_str());
}

pid_t MasterSession::childPid() const {
    return m_broker ? m_broker->childPid() : 0;
}

int MasterSession::exitCode() const {
    const int status = m_broker ? m_broker->childStatus() : -1;
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int MasterSession::quit(int waitMs) {
    if (!m_ended) {
        m_ended = true;
        m_broker->disconnectFromChild();
        m_broker->reapChild(waitMs);
    }
    return exitCode();
}

void MasterSession::abort(int graceMs) {
    if (m_ended) return;
    m_ended = true;
    OXFDataPad* pad = m_broker->pad();
    __atomic_or_fetch(&pad->flags, OXFDataPad::FlagShutdown, __ATOMIC_SEQ_CST);
    sem_post(&pad->sem_slave);
    m_broker->reapChild(graceMs);
}

void MasterSession::broken(const std::string& what) {
    abort(1000);
    throw std::runtime_error(what);
}

void MasterSession::checkAnswer(bool ok, int timeoutSeconds) {
    if (ok) return;
    if (m_broker->childPid() > 0 && m_broker->other_side_still_running()) {
        broken("elemorama-fx did not answer within " + std::to_string(timeoutSeconds) + " s");
    }
    m_ended = true;
    m_broker->reapChild(1000);
    throw std::runtime_error("elemorama-fx " + describeStatus(m_broker->childStatus()) + " during the run");
}

MasterReply MasterSession::run(const MasterRun& run) {
    if (m_ended) throw std::runtime_error("The effect process has already ended");
    if (!run.image || run.image->samples.size() != run.image->byteSize() || run.image->width < 1)
        throw std::runtime_error("No image to run on");
    const ImageRecord& image = *run.image;
    HostRequest request{};
    request.width = image.width;
    request.height = image.height;
    request.fileNameLength = uint32_t(run.fileName.size());
    request.profileLength = uint32_t(image.iccProfile.size());
    request.paramLength = uint32_t(run.params.size());
    request.colorMode = colorModeOf(image.model);
    request.bytesPerSample = int8_t(image.bytesPerSample());
    request.hasTransparency = image.hasAlpha ? 1 : 0;
    request.hasSelection = run.selection ? 1 : 0;
    request.transparencyLocked = run.transparencyLocked ? 1 : 0;
    strncpy(request.pluginName, run.pluginName.c_str(), sizeof request.pluginName - 1);
    const size_t total = sizeof request + run.fileName.size() + image.iccProfile.size() + run.params.size();
    if (total > OXFDataPad::MaxDataSize)
        throw std::runtime_error("The run request is too large for the data pad");
    if (run.selection && (run.selection->width != image.width || run.selection->height != image.height))
        throw std::runtime_error("The selection is not the size of the image");

    uint8_t* out = m_broker->data();
    memcpy(out, &request, sizeof request);
    size_t at = sizeof request;
    // An empty part may have no storage at all: memcpy must not see its null pointer.
    auto append = [&](const void* bytes, size_t size) {
        if (size) memcpy(out + at, bytes, size);
        at += size;
    };
    append(run.fileName.data(), run.fileName.size());
    append(image.iccProfile.data(), image.iccProfile.size());
    append(run.params.data(), run.params.size());

    MasterReply reply;
    reply.start = std::chrono::steady_clock::now();
    std::vector<uint8_t> selection;
    if (run.selection) selection = selectionSamples(*run.selection, image.sampleType);
    MasterRun effective = run;
    ImageRecord selectionRecord;
    if (run.selection) {
        selectionRecord.width = image.width;
        selectionRecord.height = image.height;
        selectionRecord.model = ColorModel::Grey;
        selectionRecord.sampleType = image.sampleType;
        selectionRecord.samples = std::move(selection);
        effective.selection = &selectionRecord;
    }
    try {
        if (run.onStep) run.onStep(LinkStep::Run);
        checkAnswer(m_broker->send_prepared_message(M2S_Run, uint32_t(at), run.timeoutSeconds),
                    run.timeoutSeconds);
        return serve(effective, reply);
    } catch (const std::runtime_error& e) {
        if (m_ended) throw;
        // A broken stream or synchronisation reported by the broker.
        abort(1000);
        throw std::runtime_error(std::string("elemorama-fx broke the protocol: ") + e.what());
    }
}

MasterReply MasterSession::serve(const MasterRun& effective, MasterReply& reply) {
    for (;;) {
        switch (m_broker->msg_id()) {
        case S2M_GetChannel:
            serveGet(effective, reply);
            break;
        case S2M_PutChannel:
            servePut(effective, reply);
            break;
        case S2M_Done: {
            const uint32_t size = m_broker->data_size();
            RunReplyHeader header{};
            if (size < sizeof header || size > OXFDataPad::MaxDataSize)
                broken("elemorama-fx sent a malformed reply");
            memcpy(&header, m_broker->data(), sizeof header);
            if (uint64_t(sizeof header) + header.errorLength + header.paramLength > size ||
                header.status < 0 || header.status > 2)
                broken("elemorama-fx sent a malformed reply");
            const char* text = reinterpret_cast<const char*>(m_broker->data()) + sizeof header;
            reply.doneMs = sinceStart(reply);
            if (effective.onStep) effective.onStep(LinkStep::Done);
            reply.status = header.status;
            reply.error.assign(text, header.errorLength);
            reply.params.assign(text + header.errorLength, header.paramLength);
            return reply;
        }
        case S2M_Quit:
            m_ended = true;
            m_broker->reapChild(2000);
            throw std::runtime_error("elemorama-fx quit during the run and " +
                                     describeStatus(m_broker->childStatus()));
        default:
            broken("elemorama-fx broke the protocol: unexpected message " +
                   std::to_string(m_broker->msg_id()));
        }
    }
}

void MasterSession::serveGet(const MasterRun& run, MasterReply& reply) {
    const ImageRecord& image = *run.image;
    ChannelRequest r{};
    if (m_broker->data_size() != sizeof r) broken("elemorama-fx sent a malformed channel request");
    memcpy(&r, m_broker->data(), sizeof r);
    if (r.left < 0 || r.top < 0 || r.right > image.width || r.bottom > image.height || r.left >= r.right ||
        r.top >= r.bottom)
        broken("elemorama-fx asked for a rectangle outside the image");
    const int component = componentOf(image.model, r.code);
    if (component == -3 || (component == -2 && !run.selection))
        broken("elemorama-fx asked for an unknown channel " + std::to_string(r.code));
    const int bytes = image.bytesPerSample();
    const size_t width = size_t(r.right - r.left);
    const size_t size = width * size_t(r.bottom - r.top) * size_t(bytes);
    if (size > OXFDataPad::MaxDataStreamSize) broken("elemorama-fx asked for more than one stream can carry");
    const size_t rowBytes = width * size_t(bytes);
    // Rows are made straight in the pad, shared out over the jobs pool.
    auto loadRow = [&](uint8_t* dst, int y) {
        if (component == -2) {
            memcpy(dst, run.selection->samples.data() + (size_t(y) * size_t(image.width) + size_t(r.left)) * bytes,
                   rowBytes);
        } else if (component == -1 && !image.hasAlpha) {
            for (size_t x = 0; x < width; ++x) {
                if (bytes == 1)
                    dst[x] = 255;
                else if (bytes == 2)
                    memcpy(dst + 2 * x, "\xff\xff", 2);
                else {
                    const float one = 1.0f;
                    memcpy(dst + 4 * x, &one, 4);
                }
            }
        } else {
            const int index = component == -1 ? image.colorChannels() : component;
            const uint8_t* src = image.row(y) + size_t(r.left) * image.pixelBytes() + size_t(index) * size_t(bytes);
            gatherRow(src, image.pixelBytes(), dst, width, bytes);
        }
    };
    auto loadRows = [&](uint8_t* target, size_t firstRow, size_t count) {
        MT::parallelFor(
            0, uint32_t(count),
            [&](uint32_t first, uint32_t last) {
                for (size_t k = first; k < last; ++k) loadRow(target + k * rowBytes, r.top + int(firstRow + k));
            },
            rowGrain(rowBytes));
    };
    std::vector<uint8_t> row;
    if (run.onStep) run.onStep(LinkStep::Get);
    ++reply.channelsRead;
    reply.events.push_back({false, r.code, r.left, r.top, r.right, r.bottom, sinceStart(reply)});
    checkAnswer(m_broker->send_data_stream(size,
                                           [&](uint8_t* block, size_t offset, size_t length) {
                                               if (offset == 0 && run.onStep) run.onStep(LinkStep::GetStream);
                                               Detail::fillRows(block, offset, length, rowBytes, row,
                                                                loadRows);
                                           },
                                           run.timeoutSeconds),
                run.timeoutSeconds);
}

void MasterSession::servePut(const MasterRun& run, MasterReply& reply) {
    ImageRecord& image = *run.image;
    ChannelRequest r{};
    if (m_broker->data_size() != sizeof r) broken("elemorama-fx sent a malformed channel request");
    memcpy(&r, m_broker->data(), sizeof r);
    if (r.left < 0 || r.top < 0 || r.right > image.width || r.bottom > image.height || r.left >= r.right ||
        r.top >= r.bottom)
        broken("elemorama-fx wrote a rectangle outside the image");
    const int component = componentOf(image.model, r.code);
    if (component == -3) broken("elemorama-fx wrote an unknown channel " + std::to_string(r.code));
    const int bytes = image.bytesPerSample();
    const size_t width = size_t(r.right - r.left);
    const size_t size = width * size_t(r.bottom - r.top) * size_t(bytes);
    if (size > OXFDataPad::MaxDataStreamSize) broken("elemorama-fx wrote more than one stream can carry");
    const size_t rowBytes = width * size_t(bytes);
    if (run.onStep) run.onStep(LinkStep::Put);
    const double requestedMs = sinceStart(reply);
    checkAnswer(m_broker->send_message(M2S_ClearToSend, nullptr, 0, run.timeoutSeconds), run.timeoutSeconds);
    // Writes to the selection, to locked transparency or to transparency the image does not have
    // are taken and dropped: the image is only written inside its own channels.
    const bool keep = component >= 0 || (component == -1 && image.hasAlpha && !run.transparencyLocked);
    const int index = component == -1 ? image.colorChannels() : component;
    // Spreading one sample over every pixel is bound by the image's cache lines: the rows of a
    // block are shared out over the jobs pool.
    auto storeRows = [&](const uint8_t* rows, size_t firstRow, size_t count) {
        if (!keep) return;
        MT::parallelFor(
            0, uint32_t(count),
            [&](uint32_t first, uint32_t last) {
                for (size_t k = first; k < last; ++k) {
                    const int y = r.top + int(firstRow + k);
                    uint8_t* dst =
                        image.row(y) + size_t(r.left) * image.pixelBytes() + size_t(index) * size_t(bytes);
                    scatterRow(rows + k * rowBytes, dst, image.pixelBytes(), width, bytes);
                }
            },
            rowGrain(rowBytes));
    };
    std::vector<uint8_t> carry;
    checkAnswer(m_broker->receive_data_stream(size,
                                              [&](const uint8_t* block, size_t offset, size_t length) {
                                                  if (offset == 0 && run.onStep) run.onStep(LinkStep::PutStream);
                                                  Detail::takeRows(block, offset, length, rowBytes, carry,
                                                                   storeRows);
                                              }),
                0);
    ++reply.channelsWritten;
    reply.events.push_back({true, r.code, r.left, r.top, r.right, r.bottom, requestedMs});
    // The answer to the last block lets the process go on with its next request.
    checkAnswer(m_broker->send_message(M2S_ClearToSend, nullptr, 0, run.timeoutSeconds), run.timeoutSeconds);
}

} // namespace Orvex::OXF
