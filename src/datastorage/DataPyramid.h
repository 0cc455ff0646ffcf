#pragma once
// A series of reduced copies of one image for the view: level 0 is the image itself, level k is
// reduced by 2^k on each side (rounded up), built on demand from level k - 1 with rescaleSumming.
// Levels stop once both sides are at most 32 pixels (or 1). Building runs under a mutex, so any
// thread may ask for a level; `invalidate` (after the image changed) drops every reduced level.

#include "datastorage/PixelPlane.h"

#include <QObject>

#include <mutex>
#include <vector>

namespace Orvex::DataStorage {

class DataPyramid : public QObject {
    Q_OBJECT
public:
    explicit DataPyramid(Ref<PixelPlane> source = {}, QObject* parent = nullptr);
    ~DataPyramid() override;

    // Replaces the image (and marks every level out of date).
    void setSource(Ref<PixelPlane> source);
    Ref<PixelPlane> source() const;

    int levelCount() const;
    SizeI levelSize(int level) const;
    // Scale of a level against the image: 1 / 2^level.
    static double levelScale(int level);
    // The plane of a level (built now when missing or out of date); null past the last level.
    Ref<PixelPlane> level(int level);
    // The coarsest level still at least as detailed as `zoom` (view pixels per image pixel), so the
    // view only ever reduces further from it: 0 for zoom >= 1.
    int levelForZoom(double zoom) const;

    bool isOutOfDate() const;
    // Drops the reduced levels; they are rebuilt on the next request.
    void invalidate();

signals:
    void invalidated();

private:
    struct Level {
        Ref<PixelPlane> plane;
    };
    Ref<PixelPlane> buildFrom(const PixelPlane& previous, SizeI size) const;

    mutable std::mutex m_mutex;
    Ref<PixelPlane> m_source;
    Ref<SharedObject> m_companion;
    std::vector<Level> m_levels; // index 0 unused (the source)
    bool m_outOfDate = true;
};

} // namespace Orvex::DataStorage
