#include "TestSlave.h"

#include "oxf/BatchRun.h"
#include "oxf/OXF.h"

#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Orvex;
using namespace Orvex::OXF;
using namespace Orvex::DataStorage;

uint8_t streamPattern(size_t i) {
    return uint8_t((i * 7 + i / 251) % 253);
}

namespace {

template <class T> void invertWhereSelected(DataChannel& channel, const DataChannel* selection, T max) {
    for (int y = 0; y < channel.height(); ++y)
        for (int x = 0; x < channel.width(); ++x) {
            bool selected = true;
            if (selection) {
                unsigned char element[8] = {0};
                selection->readElement(x, y, element);
                selected = std::any_of(element, element + selection->elementSize(),
                                       [](unsigned char c) { return c; });
            }
            if (selected) channel.template setValue<T>(x, y, T(max - channel.template value<T>(x, y)));
        }
}

Ref<PixelPlane> testProcessor(const BatchInput& in) {
    const std::string mode = in.batch.get<std::string>("mode", "");
    const RectI& b = in.selectionBox;
    if (mode == "box")
        throw std::runtime_error("box " + std::to_string(b.left) + " " + std::to_string(b.top) + " " +
                                 std::to_string(b.right) + " " + std::to_string(b.bottom) +
                                 (in.selection ? " sel" : " all"));
    if (mode == "cancel") throw silent_exception();
    if (mode == "fail") throw std::runtime_error("effect failed on purpose");
    if (mode == "mask") {
        Ref<DataChannel> mask;
        RectI box;
        const RectI rect{in.batch.get<int>("l", 0), in.batch.get<int>("t", 0), in.batch.get<int>("r", 0),
                         in.batch.get<int>("b", 0)};
        if (!getMask(mask, rect, box, true)) throw std::runtime_error("mask none");
        throw std::runtime_error("mask " + std::to_string(mask->width()) + " " +
                                 std::to_string(mask->height()) + " " + std::to_string(box.left) + " " +
                                 std::to_string(box.top) + " " + std::to_string(box.right) + " " +
                                 std::to_string(box.bottom));
    }
    if (mode == "invert") {
        Ref<PixelPlane> result = in.source->clone();
        for (int id = 1; id <= 11; ++id) {
            if (!result->hasChannel(id)) continue;
            Ref<DataChannel> channel = result->writableChannel(id);
            switch (channel->type()) {
            case TypeU8:
                invertWhereSelected<uint8_t>(*channel, in.selection.get(), 255);
                break;
            case TypeU16:
                invertWhereSelected<uint16_t>(*channel, in.selection.get(), 65535);
                break;
            default:
                invertWhereSelected<float>(*channel, in.selection.get(), 1.0f);
                break;
            }
        }
        result->removeChannel(13); // transparency stays as it is
        return result;
    }
    return Ref<PixelPlane>();
}

int scriptedSlave(const std::string& script, const std::string& link) {
    try {
        Broker broker(link);
        if (script == "hang") {
            std::this_thread::sleep_for(std::chrono::seconds(60));
            return 0;
        }
        while (broker.msg_id() == M2S_Run) {
            if (script == "die") _exit(7);
            if (script == "bad-stream") {
                broker.pad()->msg_block_ = 5;
                const uint8_t byte = 1;
                broker.send_message(S2M_DataStream, &byte, 1, 0);
                continue;
            }
            uint64_t size = 0;
            memcpy(&size, broker.data(), sizeof size);
            if (!broker.send_message(S2M_GetChannel, &size, sizeof size, 0)) return 4;
            std::vector<uint8_t> data(size);
            int32_t result[2] = {0, 0};
            try {
                broker.receive_data_block(data.data(), size);
                result[0] = int32_t(broker.pad()->msg_block_);
                result[1] = 1;
                for (size_t i = 0; i < size; ++i)
                    if (data[i] != streamPattern(i)) {
                        result[1] = 0;
                        break;
                    }
            } catch (const std::exception&) {
                result[1] = -1;
            }
            broker.send_message(S2M_Done, result, sizeof result, 0);
        }
        return broker.msg_id() == M2S_Quit ? 0 : 5;
    } catch (const silent_exception&) {
        return 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "test slave: %s\n", e.what());
        return 2;
    }
}

} // namespace

int runTestSlave(int argc, char** argv) {
    const char* script = getenv("ORVEX_TEST_SLAVE");
    const std::string mode = script ? script : "fx";
    if (mode == "fx") {
        setBatchProcessor(testProcessor);
        return mainOXF(argc, argv);
    }
    return scriptedSlave(mode, argv[0] + 14);
}
