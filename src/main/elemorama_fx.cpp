// The effect process. Batch processing and the effect window plug into the host link here
// (Orvex::OXF::setBatchProcessor, Orvex::OXF::setWindowRunner) before the entry runs.
#include "main/fxbatch/EffectBatch.h"
#include "main/fxwindow/WindowRun.h"
#include "oxf/OXF.h"

#include <malloc.h>

int main(int argc, char** argv) {
    // Images come and go in tiles: keep freed heap memory instead of returning it to the system and
    // faulting it in again on the next run.
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    Orvex::FxBatch::install();
    Orvex::FxWindow::install();
    return Orvex::OXF::mainOXF(argc, argv);
}
