#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/cumulus/CumulusParams.h"

namespace Orvex::Document::Filters {

// The grid on which the clouds are shaped: its longer side has about 400 cells.
struct CloudGrid {
    double scale = 1; // image pixels per cell
    int width = 0;
    int height = 0;
    static CloudGrid forImage(int imageWidth, int imageHeight);
};

// Clouds: a multi-octave value-noise field on the grid (cached per noise size and selection), then
// layer after layer an elliptical blob inside the selection whose cells survive where the noise is
// dense enough, softened, shaded from the chosen colour and laid over the image.
class CumulusRenderer : public TypedRenderer<CumulusParams, CumulusRenderer> {
public:
    RunOutcome process(CumulusParams& lastRun, const DataStorage::PixelPlane& source,
                       const MaskChannels& masks, DataStorage::PixelPlane& result, const RunContext& context);

    // The normalised noise field (0 ... 1, largest value 1) of a grid for a noise size; false when
    // cancelled.
    static bool buildNoise(int noiseSize, const CloudGrid& grid, std::vector<float>& noise,
                           const RunContext& context);

    const std::vector<float>& noiseCache() const { return m_noise; }
    int noiseBuilds() const { return m_noiseBuilds; }

private:
    std::vector<float> m_noise;
    CloudGrid m_noiseGrid;
    CumulusParams m_noiseKey = invalidKey();
    int m_noiseBuilds = 0;
    static CumulusParams invalidKey() {
        CumulusParams key;
        key.noiseSize = -1;
        return key;
    }
};

} // namespace Orvex::Document::Filters
