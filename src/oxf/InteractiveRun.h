#pragma once
// The interactive run: taken when the run's parameter text has no top-level `batch` node. It loads
// the host plane with its transparency, then the host selection (channel by channel in the host's
// numbering, in stripes), and then waits for the user: the effect window (registered with
// setWindowRunner) shows the image, and only its Apply writes anything back. Cancel writes nothing.
//
// While the run waits, the link is watched a few times a second: a master that sets the shutdown
// flag ends the run quietly (status 1), a host that reports a fatal error fails it, and a master
// that is gone ends the process as a broker wait would (exit code 1).
//
// ELEMORAMA_AUTO, for hosts and tests without a person: "apply" applies the unchanged image through
// the normal Apply path once the run has loaded (status 0, the host's samples unchanged), "cancel"
// cancels it (status 1). A window takes the automatic Apply over (takeAutoApply) and writes the
// unchanged image through its own Apply path.

#include "oxf/HostExchange.h"

#include <QString>

#include <exception>
#include <functional>

class QEventLoop;

namespace Orvex::OXF {

enum class AutoAction { None, Apply, Cancel };
// ELEMORAMA_AUTO read once per run; an unknown value is ignored with a warning.
AutoAction autoActionFromEnvironment();

class InteractiveRun {
public:
    // Result codes of a window (and of exec()).
    static constexpr int16_t Applied = 0;
    static constexpr int16_t Cancelled = -128;
    static constexpr int16_t Failed = 1;

    InteractiveRun();
    ~InteractiveRun();
    InteractiveRun(const InteractiveRun&) = delete;
    InteractiveRun& operator=(const InteractiveRun&) = delete;

    // Pulls the image and the selection; throws a standard exception with a clear text for an
    // image that cannot be (sizes, sample size, colour mode) or a failed transfer.
    void load();

    // The host image in the document format: the colour channels of the host's mode and channel 13
    // (opaque when the host has no transparency) in the host sample type, tagged with the document
    // profile.
    const Ref<PixelPlane>& source() const { return m_source; }
    // The host selection over the whole image in the host sample type (0 not selected), or none
    // when the host has no selection.
    const Ref<DataChannel>& selection() const { return m_selection; }
    // The bounding box of the selected pixels; the image rectangle without a selection.
    RectI selectionBox() const { return m_selectionBox; }
    AutoAction autoAction() const { return m_auto; }
    // A window takes an automatic Apply over, so that it goes through the window's own write-back;
    // true when there was one (exec then leaves it alone).
    bool takeAutoApply();

    // Writes `result` back to the host: the host's own channels only (its mode's colour channels,
    // and transparency when the host has it and has not locked it), ascending, in stripes. `result`
    // must be the size of the source. A failure (the link, a wrong size) ends the run with the
    // failure; returns whether the image went back. Never throws, so that it can be called from an
    // event handler.
    bool apply(const PixelPlane& result);
    bool applied() const { return m_applied; }

    // Runs the event loop until finish() or until the link ends the run; returns the result code.
    // The window calls it after showing itself; without a window processImage calls it.
    int16_t exec();
    void finish(int16_t code);
    bool finished() const { return m_finished; }

    // A failure recorded during exec (the link, apply); processImage rethrows it after the loop.
    std::exception_ptr failure() const { return m_failure; }
    // The text of the recorded failure, empty without one or for a quiet end.
    QString failureText() const;

private:
    void watch();
    void fail(std::exception_ptr failure);

    Ref<PixelPlane> m_source;
    Ref<DataChannel> m_selection;
    RectI m_selectionBox;
    AutoAction m_auto = AutoAction::None;
    bool m_applied = false;
    bool m_finished = false;
    int16_t m_code = Cancelled;
    std::exception_ptr m_failure;
    QEventLoop* m_loop = nullptr;
};

// Work that can wait until the host has the run's reply, such as the window's teardown (on a
// 12-megapixel image it gives back hundreds of megabytes, which would hold the host up for tens
// of milliseconds after the last channel went back). The request loop runs it on the GUI thread
// right after posting the reply, while the host takes the reply, and before it quits.
void deferUntilReplied(std::function<void()> work);
void runDeferredWork();

// The write-back of a result plane: the host's colour channels and, when the host has it,
// transparency (putChannel skips it when locked). Channels the plane lacks are not written.
bool putHostChannels(const PixelPlane& plane, const RectI& rect);

// Checks the run request for an image this process can hold; throws a clear runtime error.
void checkRunRequest(const HostRequest& request);
// Refuses, before anything is transferred, an image that the window could not hold in the memory
// the system has available now.
void checkMemoryForWindow(const HostRequest& request);

} // namespace Orvex::OXF
