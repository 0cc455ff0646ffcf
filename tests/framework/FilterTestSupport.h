#pragma once
// A small document and an effect whose computation the tests control.
#include "datastorage/PixelFormat.h"
#include "document/framework/Effects.h"
#include "document/framework/FilterMessages.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <functional>

namespace FilterTest {

using namespace Orvex;
using namespace Orvex::Document;
using namespace Orvex::Document::Filters;

inline Ref<DataStorage::PixelPlane> rgbaPlane(int w, int h, uint8_t value = 90) {
    auto plane = makeRef<DataStorage::PixelPlane>(DataStorage::channelBit(DataStorage::ChannelRed) |
                                                      DataStorage::channelBit(DataStorage::ChannelGreen) |
                                                      DataStorage::channelBit(DataStorage::ChannelBlue) |
                                                      DataStorage::channelBit(DataStorage::ChannelAlpha),
                                                  int32_t(DataStorage::TypeU8), Orvex::Detail::SizeI{w, h});
    const uint8_t opaque = 255;
    for (int id : {DataStorage::ChannelRed, DataStorage::ChannelGreen, DataStorage::ChannelBlue})
        plane->writableChannel(id)->fill(&value);
    plane->writableChannel(DataStorage::ChannelAlpha)->fill(&opaque);
    return plane;
}

inline Ref<DataStorage::DataChannel> maskChannel(int w, int h, uint8_t value) {
    auto channel = makeRef<DataStorage::DataChannel>(w, h, int32_t(DataStorage::TypeU8));
    channel->fill(&value);
    return channel;
}

// Spins the event loop until `done` or the timeout; false on timeout.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// Rain whose Process is replaced by a test body (the real renderer when none is given).
class ScriptedRain : public Rain {
public:
    using Body =
        std::function<RunOutcome(ScriptedRain&, const DataStorage::PixelPlane&, DataStorage::PixelPlane&)>;
    Body body;
    std::atomic<int> processCalls{0};
    std::atomic<bool> inProcess{false};
    using Rain::Rain;

    bool cancelled() const { return cancelFlag().load(); }

protected:
    RunOutcome Process(const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result) override {
        ++processCalls;
        inProcess = true;
        struct Leave {
            std::atomic<bool>& flag;
            ~Leave() { flag = false; }
        } leave{inProcess};
        if (body) return body(*this, source, result);
        return Rain::Process(source, masks, result);
    }
};

// Every message box the effects would show, captured.
struct CapturedMessages {
    std::vector<FilterMessage> messages;
    bool answer = true;
    FilterMessages::Handler previous;
    CapturedMessages() {
        previous = FilterMessages::setHandler([this](const FilterMessage& m) {
            messages.push_back(m);
            return answer;
        });
    }
    ~CapturedMessages() { FilterMessages::setHandler(previous); }
};

// A settings store of the test's own, below the run prefix the window uses.
struct TestSettings {
    SettingsMap store;
    TestSettings() { ToolFilter::setSettingsRoot(&store, QStringLiteral("Filters/OXF/Elemorama")); }
    ~TestSettings() { ToolFilter::setSettingsRoot(nullptr, QString()); }
};

} // namespace FilterTest
