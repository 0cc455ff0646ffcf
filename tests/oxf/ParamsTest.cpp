#include "oxf/LinkMessages.h"
#include "oxf/OXF.h"

#include <cstring>

#include <gtest/gtest.h>

using namespace Orvex::OXF;

TEST(ParameterText, RefusalsComeBeforeParsing) {
    std::string error;
    EXPECT_TRUE(checkParameterText("batch { effect rain }", &error));
    EXPECT_FALSE(checkParameterText("a 1\n#include \"x\"\n", &error));
    EXPECT_NE(error.find("#include"), std::string::npos);
    EXPECT_FALSE(checkParameterText(std::string(MaxParameterTextSize + 1, ' '), &error));
    EXPECT_TRUE(checkParameterText(std::string(MaxParameterTextSize, ' '), &error));
    std::string deep;
    for (int i = 0; i < 64; ++i) deep += "k {";
    EXPECT_TRUE(checkParameterText(deep, &error));
    EXPECT_FALSE(checkParameterText(deep + "k {", &error));
    // Braces in quoted values and comments do not nest.
    EXPECT_TRUE(checkParameterText(deep + "k \"{{{\\\"{\" ; {{{{", &error));
    // Closing braces never make the depth negative to hide later nesting.
    EXPECT_FALSE(checkParameterText(std::string(100, '}') + deep + "k {", &error));
}

TEST(ParameterText, ParsesAndWritesInfoText) {
    EXPECT_TRUE(parseParameterText("").empty());
    const auto tree = parseParameterText("batch\n{\n effect rain\n set { Amount 40 ; comment\n } }");
    EXPECT_EQ(tree.get<std::string>("batch.effect"), "rain");
    EXPECT_EQ(tree.get<int>("batch.set.Amount"), 40);
    EXPECT_EQ(writeParameterText(tree),
              "batch\n{\n    effect rain\n    set\n    {\n        Amount 40\n    }\n}\n");
    EXPECT_THROW(parseParameterText("a {"), std::runtime_error);
    EXPECT_THROW(parseParameterText("#include \"/etc/passwd\""), std::runtime_error);
}

TEST(MasterLink, LastElementWinsElementZeroIncluded) {
    char a0[] = "--master-link=/tmp/one";
    char* only[] = {a0};
    EXPECT_EQ(findMasterLink(1, only), "/tmp/one");
    char p[] = "elemorama-fx", a1[] = "--master-link=/a", a2[] = "--other", a3[] = "--master-link=/b";
    char* several[] = {p, a1, a2, a3};
    EXPECT_EQ(findMasterLink(4, several), "/b");
    char b[] = "--master-link";
    char* none[] = {p, b};
    EXPECT_EQ(findMasterLink(2, none), "");
}

namespace {

std::vector<uint8_t> runPayload(uint32_t nameLength, uint32_t profileLength, uint32_t paramLength,
                                const std::string& tail, const char* plugin = "Elemorama") {
    HostRequest header{};
    header.width = 3;
    header.height = 2;
    header.fileNameLength = nameLength;
    header.profileLength = profileLength;
    header.paramLength = paramLength;
    strncpy(header.pluginName, plugin, sizeof header.pluginName - 1);
    std::vector<uint8_t> bytes(sizeof header);
    memcpy(bytes.data(), &header, sizeof header);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

} // namespace

TEST(RunRequest, PartsFollowTheHeaderWithoutGaps) {
    RunRequest request;
    std::string error;
    const auto bytes = runPayload(5, 3, 5, "a.pngICCa 1 bXYZ");
    ASSERT_TRUE(parseRunRequest(bytes.data(), bytes.size(), request, error)) << error;
    EXPECT_EQ(request.header.width, 3);
    EXPECT_EQ(request.fileName, "a.png");
    EXPECT_EQ(request.profile, (std::vector<uint8_t>{'I', 'C', 'C'}));
    EXPECT_EQ(request.paramText, "a 1 b"); // trailing bytes beyond the lengths are not read
    const auto empty = runPayload(0, 0, 0, "");
    ASSERT_TRUE(parseRunRequest(empty.data(), empty.size(), request, error));
    EXPECT_TRUE(request.fileName.empty() && request.profile.empty() && request.paramText.empty());
}

TEST(RunRequest, ShortPayloadsAndOverlongLengthsAreRefused) {
    RunRequest request;
    std::string error;
    const auto bytes = runPayload(4, 0, 0, "abcd");
    EXPECT_FALSE(parseRunRequest(bytes.data(), sizeof(HostRequest) - 1, request, error));
    EXPECT_EQ(error, "Malformed run request: 79 bytes");
    EXPECT_FALSE(parseRunRequest(bytes.data(), bytes.size() - 1, request, error));
    EXPECT_EQ(error, "Malformed run request: the lengths exceed the message");
    // Lengths whose 32-bit sum wraps around to a small number.
    const auto wrapping = runPayload(0xFFFFFFF0u, 0x10u, 4, "abcd");
    EXPECT_FALSE(parseRunRequest(wrapping.data(), wrapping.size(), request, error));
    EXPECT_EQ(request.header.fileNameLength, 0xFFFFFFF0u); // the header is kept for the reply
}

TEST(RunRequest, PluginNameIgnoresCaseAndBlanks) {
    RunRequest request;
    std::string error;
    for (const char* name : {"Elemorama", "ELEMO rama", " e l e m o r a m a "}) {
        const auto bytes = runPayload(0, 0, 0, "", name);
        ASSERT_TRUE(parseRunRequest(bytes.data(), bytes.size(), request, error));
        EXPECT_TRUE(pluginNameMatches(request.header)) << name;
    }
    for (const char* name : {"", "Elemoram", "Elemorama2"}) {
        const auto bytes = runPayload(0, 0, 0, "", name);
        ASSERT_TRUE(parseRunRequest(bytes.data(), bytes.size(), request, error));
        EXPECT_FALSE(pluginNameMatches(request.header)) << name;
    }
    // A name that fills all 44 bytes without a terminator is read no further.
    HostRequest header{};
    memset(header.pluginName, 'x', sizeof header.pluginName);
    EXPECT_FALSE(pluginNameMatches(header));
}

TEST(RunRequest, ImpossibleSizesAndUnknownFormatsAreNamed) {
    HostRequest header{};
    header.width = 4000;
    header.height = 3000;
    header.colorMode = ModeRGB;
    header.bytesPerSample = 2;
    EXPECT_EQ(runRequestProblem(header), "");
    header.width = 65536;
    header.height = 32769; // 2^31 pixels are the most a run may have
    EXPECT_EQ(runRequestProblem(header), "Run request with an invalid image size 65536 x 32769");
    header.width = 1;
    header.height = -5;
    EXPECT_NE(runRequestProblem(header).find("invalid image size"), std::string::npos);
    header.height = 1;
    for (int bytes : {0, 3, 8, -1}) {
        header.bytesPerSample = int8_t(bytes);
        EXPECT_NE(runRequestProblem(header).find("unsupported sample size"), std::string::npos) << bytes;
    }
    header.bytesPerSample = 4;
    for (int mode : {0, 5, -1}) {
        header.colorMode = int8_t(mode);
        EXPECT_NE(runRequestProblem(header).find("unknown colour mode"), std::string::npos) << mode;
    }
}

TEST(StreamBlocks, EachHeaderFieldIsChecked) {
    const uint32_t cap = OXFDataPad::MaxDataSize;
    const StreamBlockHeader good{M2S_DataStream, 100, 2, cap};
    EXPECT_EQ(checkStreamBlock(good, 2, 100, false), nullptr);
    EXPECT_NE(checkStreamBlock(good, 2, 100, true), nullptr); // the master expects S2M_DataStream
    EXPECT_EQ(checkStreamBlock({S2M_DataStream, 100, 2, cap}, 2, 100, true), nullptr);
    EXPECT_STREQ(checkStreamBlock({M2S_ClearToSend, 100, 2, cap}, 2, 100, false),
                 "msg_id() == ( master() ? S2M_DataStream : M2S_DataStream )");
    EXPECT_STREQ(checkStreamBlock({M2S_DataStream, 0, 2, cap}, 2, 100, false), "block_size > 0");
    EXPECT_STREQ(checkStreamBlock({M2S_DataStream, cap + 1, 2, cap + 1}, 2, size_t(1) << 30, false),
                 "block_size <= OXFDataPad::MaxDataSize");
    EXPECT_STREQ(checkStreamBlock({M2S_DataStream, 100, 2, 99}, 2, 100, false),
                 "block_size <= pad()->max_data_size_");
    EXPECT_STREQ(checkStreamBlock(good, 1, 100, false), "pad()->msg_block_ == block_number");
    EXPECT_EQ(checkStreamBlock(good, 2, 99, false), BlockBeyondStream);
}
