#include "oxf/OXF.h"

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
