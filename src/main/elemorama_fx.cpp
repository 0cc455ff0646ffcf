// The effect process. Batch processing and the effect window plug into the host link here
// (Orvex::OXF::setBatchProcessor, Orvex::OXF::setWindowRunner) before the entry runs.
#include "main/fxbatch/EffectBatch.h"
#include "oxf/OXF.h"

int main(int argc, char** argv) {
    Orvex::FxBatch::install();
    return Orvex::OXF::mainOXF(argc, argv);
}
