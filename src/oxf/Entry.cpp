#include "app/OrvexApplication.h"
#include "oxf/BatchRun.h"
#include "oxf/InteractiveRun.h"
#include "oxf/LinkLog.h"
#include "oxf/LinkMessages.h"
#include "oxf/OXF.h"

#include <boost/property_tree/info_parser.hpp>

#include <QLoggingCategory>

#include <cstring>
#include <memory>
#include <sstream>

namespace Orvex::OXF {

namespace {

HostRequest g_request{};
std::string g_fileName;
std::vector<uint8_t> g_profile;
Broker* g_broker = nullptr;
WindowRunner g_windowRunner;

struct RunReply {
    int status = 0;
    std::string error;
    std::string params;
};

// Reads the run request in the pad; any inconsistency of the lengths fails the run.
RunReply handleRun(Broker& broker) {
    LinkLog::trace("Received M2S_Run\n");
    RunReply reply;
    const uint32_t size = std::min<uint32_t>(broker.data_size(), OXFDataPad::MaxDataSize);
    RunRequest parsed;
    std::string malformed;
    const bool whole = parseRunRequest(broker.data(), size, parsed, malformed);
    if (size >= sizeof(HostRequest)) hostRequest() = parsed.header;
    if (!whole) {
        reply.status = 2;
        reply.error = malformed;
        return reply;
    }
    const HostRequest& request = parsed.header;
    const std::string& fileName = parsed.fileName;
    const std::vector<uint8_t>& profile = parsed.profile;
    const std::string& paramText = parsed.paramText;
    if (!fileName.empty()) LinkLog::trace("   filename = %s\n", fileName.c_str());
    if (!profile.empty()) LinkLog::trace("   profile size = %d\n", int(profile.size()));
    if (!paramText.empty()) {
        LinkLog::trace("   param_bytes = %d\n", int(paramText.size()));
        LinkLog::trace("   params = %s\n", paramText.c_str());
    }

    if (!pluginNameMatches(request)) throw std::runtime_error("request mismatch");

    boost::property_tree::ptree params;
    try {
        params = parseParameterText(paramText);
    } catch (const std::exception& e) {
        LinkLog::error("std::exception: %s\n", e.what());
        reply.status = 2;
        reply.error = e.what();
        return reply;
    }

    LinkLog::trace("Before processImage()\n");
    auto* app = OrvexApplication::instance();
    if (app) app->setSettingsGroupPrefix(QStringLiteral("Filters/OXF/") + QString::fromLatin1(ProductName));
    try {
        reply.status = processImage(request, fileName, profile, params);
    } catch (const silent_exception&) {
        LinkLog::trace("Silent exception\n");
        reply.status = 1;
    } catch (const std::exception& e) {
        LinkLog::error("std::exception: %s\n", e.what());
        reply.status = 2;
        reply.error = e.what();
    }
    if (app) app->setSettingsGroupPrefix(QString());
    LinkLog::trace("processImage() return %d\n", reply.status);
    if (reply.status == 0 && !params.empty()) {
        reply.params = writeParameterText(params);
        LinkLog::trace("  Returned param_bytes = %d\n", int(reply.params.size()));
    }
    return reply;
}

void sendReply(Broker& broker, RunReply reply) {
    const size_t room = OXFDataPad::MaxDataSize - sizeof(RunReplyHeader);
    if (reply.error.size() > room) reply.error.resize(room);
    if (reply.params.size() > room - reply.error.size()) reply.params.clear();
    RunReplyHeader header{reply.status, 0, uint32_t(reply.error.size()), uint32_t(reply.params.size())};
    uint8_t* out = broker.data();
    memcpy(out, &header, sizeof header);
    memcpy(out + sizeof header, reply.error.data(), reply.error.size());
    memcpy(out + sizeof header + reply.error.size(), reply.params.data(), reply.params.size());
    const uint32_t length = uint32_t(sizeof header + reply.error.size() + reply.params.size());
    // What the run left to free goes while the master takes the reply.
    if (!broker.send_prepared_message(S2M_Done, length, 0, [] { runDeferredWork(); }))
        throw std::runtime_error("Failed to send S2M_Done");
}

} // namespace

HostRequest& hostRequest() {
    return g_request;
}
const std::string& hostFileNameBytes() {
    return g_fileName;
}
const std::vector<uint8_t>& hostProfileBytes() {
    return g_profile;
}
void setRunValues(const HostRequest& request, std::string fileName, std::vector<uint8_t> profile) {
    g_request = request;
    g_fileName = std::move(fileName);
    g_profile = std::move(profile);
}

Broker* currentBroker() {
    return g_broker;
}
void setCurrentBroker(Broker* broker) {
    g_broker = broker;
}
void setWindowRunner(WindowRunner runner) {
    g_windowRunner = std::move(runner);
}

std::string findMasterLink(int argc, char** argv) {
    static const char Prefix[] = "--master-link=";
    std::string link;
    for (int i = 0; i < argc; ++i) {
        if (!argv[i]) continue;
        LinkLog::trace("[S] argv[%d] = %s\n", i, argv[i]);
        if (strncmp(argv[i], Prefix, sizeof Prefix - 1) == 0) link = argv[i] + sizeof Prefix - 1;
    }
    return link;
}


int processImage(const HostRequest& request, const std::string& fileName, const std::vector<uint8_t>& profile,
                 const boost::property_tree::ptree& params) {
    setRunValues(request, fileName, profile);
    resetDocumentProfile();
    if (params.find("batch") != params.not_found()) {
        runBatch(params);
        return 0;
    }
    InteractiveRun run;
    run.load();
    int16_t result = InteractiveRun::Cancelled;
    if (g_windowRunner) {
        qWarning("UI8.0\n");
        qWarning("UI8.1\n");
        result = g_windowRunner(run);
        qWarning("UI8.2\n");
    } else {
        result = run.exec();
    }
    if (run.failure()) std::rethrow_exception(run.failure());
    // A window that reports success must have written the image back.
    if (result == InteractiveRun::Applied && !run.applied()) result = InteractiveRun::Cancelled;
    return result == InteractiveRun::Applied ? 0 : result == InteractiveRun::Cancelled ? 1 : 2;
}

int mainOXF(int argc, char** argv) {
    LinkLog::setSide('S');
    LinkLog::trace("[S] mainOXF start\n");
    std::unique_ptr<OrvexApplication> app;
    std::unique_ptr<Broker> broker;
    int exitCode = 0;
    try {
        app = std::make_unique<OrvexApplication>(argc, argv, QStringLiteral("Quintelle"));
        const std::string link = findMasterLink(argc, argv);
        if (link.empty()) {
            LinkLog::plain("Please don't run this file directly");
            app.reset();
            return 1;
        }
        LinkLog::trace("[S] Master link = %s\n", link.c_str());
        broker = std::make_unique<Broker>(link);
        setCurrentBroker(broker.get());
        LinkLog::trace("[S] Broker constructed\n");
        LinkLog::trace("Before loop\n");
        while (broker->other_side_still_running()) {
            const uint32_t id = broker->msg_id();
            if (!msg_in_range(id, true))
                LinkLog::assertionFailed(__FILE__, __LINE__, __func__, "ox::msg_in_range( mid, true )");
            LinkLog::trace("Host still running, msg_id = %d\n", int(id));
            if (id == M2S_Quit) {
                LinkLog::trace("Received M2S_Quit\n");
                break;
            }
            if (id != M2S_Run) throw std::runtime_error("Unexpected message");
            sendReply(*broker, handleRun(*broker));
        }
    } catch (const silent_exception&) {
        exitCode = 1;
    } catch (const std::exception& e) {
        LinkLog::plain("[S] Exception caught: %s", e.what());
        exitCode = 2;
    } catch (...) {
        exitCode = 3;
    }
    // A run that ended without a reply may have left its teardown.
    runDeferredWork();
    setCurrentBroker(nullptr);
    broker.reset();
    app.reset();
    return exitCode;
}

} // namespace Orvex::OXF
