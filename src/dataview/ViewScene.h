#pragma once
// The image window's side of its OpenGL viewport: what there is to draw, asked for every frame.
#include <QColor>
#include <QImage>
#include <QRectF>

class QPainter;

namespace Orvex { namespace GPU {

// What the viewport draws; implemented by the image window.
class ViewScene {
public:
    virtual ~ViewScene() = default;
    virtual QSize sceneImageSize() const = 0;     // the full image, image pixels
    virtual const QImage& scenePicture() const = 0; // RGBA8888 picture of the level in use
    virtual int scenePictureLevel() const = 0;      // pyramid level of that picture (0 full size)
    virtual QRectF sceneTarget() const = 0;         // where the whole picture lies, view pixels
    virtual bool sceneSmooth() const = 0;           // linear filtering (else nearest)
    virtual const QImage& sceneOverlay() const = 0; // premultiplied ARGB32, drawn over the target
    virtual QColor sceneBackdrop() const = 0;
    // Lines and other shapes over everything, through a QPainter (asked for only when there are any).
    virtual bool sceneHasDecorations() const = 0;
    virtual void paintSceneDecorations(QPainter& painter) const = 0;
};

}} // namespace Orvex::GPU
