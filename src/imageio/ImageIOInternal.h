#pragma once
// Shared pieces of the format readers and writers.

#include "imageio/ImageIO.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace Orvex::ImageIO::Detail {

[[noreturn]] void fail(const QString& path, const QString& what);

// Checks a header's size against MaxSamples and the int range before anything is allocated.
void checkSize(const QString& path, uint64_t width, uint64_t height, uint64_t channels);

// A temporary file beside the target, ".<name>.XXXXXX.tmp", locked (flock) while it is written;
// commit() flushes, syncs and renames it over the target and syncs the directory. The destructor
// removes the temporary file when commit() was not reached. Creating one first removes the
// temporaries of the same target that no writer holds any more (left by a killed run).
class AtomicFile {
public:
    explicit AtomicFile(const QString& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    FILE* stream(); // a stdio stream over the temporary file (opened once)
    int fd() const { return m_fd; }
    void commit();

private:
    QString m_target;
    QString m_tempPath;
    int m_fd = -1;
    FILE* m_stream = nullptr;
    bool m_committed = false;
};

ImageRecord loadPNG(const QString& path);
ImageRecord loadJPEG(const QString& path);
ImageRecord loadTIFF(const QString& path);
ImageRecord loadPNM(const QString& path);
void savePNG(const ImageRecord& image, const QString& path);
void saveJPEG(const ImageRecord& image, const QString& path, int quality);
void saveTIFF(const ImageRecord& image, const QString& path);
void savePNM(const ImageRecord& image, const QString& path);

} // namespace Orvex::ImageIO::Detail
