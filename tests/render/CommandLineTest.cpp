// The command lines of elemorama-render and `elemorama edit`, read without any file or process.
#include "main/host/HostCommandLine.h"
#include "main/render/RenderCommandLine.h"

#include <gtest/gtest.h>

using namespace Orvex;

namespace {

bool parseRender(const QStringList& args, Render::RenderCommandLine& out, QString& error) {
    return Render::parseRenderCommandLine(QStringList{"elemorama-render"} + args, out, error);
}

bool parseHost(std::vector<const char*> args, Host::HostOptions& out, std::string& error) {
    args.insert(args.begin(), "elemorama");
    return Host::parseHostCommandLine(int(args.size()), args.data(), out, error);
}

} // namespace

TEST(RenderCommandLine, ARequestTakesEveryOption) {
    Render::RenderCommandLine cl;
    QString error;
    ASSERT_TRUE(parseRender({"-e",          "Sun",
                             "-p",          "ORVEX Noon",
                             "-s",          "Den=8",
                             "--set",       " Size =a=b",
                             "-m",          "sky.png",
                             "in.jpg",      "-o",
                             "out.png",     "-j",
                             "3",           "--quality",
                             "80",          "--horizon",
                             "45deg",       "--sun-center",
                             "75%,10%",     "--sun-radius",
                             "3%",          "--sun-angle",
                             "12",          "--sun-file",
                             "s.sun",       "--nebula-zones",
                             "z.png",       "--line",
                             "1,2,3,4",     "--line",
                             "5,6,7,8",     "--lines",
                             "3",           "--points",
                             "1,2,3,4,5,6", "-q"},
                            cl, error))
        << error.toStdString();
    EXPECT_EQ(cl.action, Render::RenderCommandLine::Action::Render);
    EXPECT_TRUE(cl.quiet);
    const Render::RenderRequest& r = cl.request;
    EXPECT_EQ(r.input, "in.jpg");
    EXPECT_EQ(r.output, "out.png");
    EXPECT_EQ(r.selection, "sky.png");
    EXPECT_EQ(r.spec.effect, "Sun");
    EXPECT_EQ(r.spec.preset, "ORVEX Noon");
    ASSERT_EQ(r.spec.overrides.size(), 2);
    EXPECT_EQ(r.spec.overrides[1].first, "Size"); // the key is trimmed, the value is kept whole
    EXPECT_EQ(r.spec.overrides[1].second, "a=b");
    EXPECT_EQ(r.threads, 3);
    EXPECT_EQ(r.jpegQuality, 80);
    EXPECT_EQ(r.horizon, "45deg");
    EXPECT_EQ(r.spec.sun.center, "75%,10%");
    EXPECT_EQ(r.spec.sun.file, "s.sun");
    EXPECT_EQ(r.nebulaZones, "z.png");
    EXPECT_EQ(r.geometry.lines, (QStringList{"1,2,3,4", "5,6,7,8"}));
    EXPECT_EQ(r.geometry.linesFile, "3");
    EXPECT_EQ(r.geometry.points, "1,2,3,4,5,6");
}

TEST(RenderCommandLine, HelpAndListComeBeforeTheRequestChecks) {
    Render::RenderCommandLine cl;
    QString error;
    ASSERT_TRUE(parseRender({"--help", "--threads", "x"}, cl, error));
    EXPECT_EQ(cl.action, Render::RenderCommandLine::Action::Help);
    EXPECT_TRUE(cl.helpText.contains("--effect"));
    ASSERT_TRUE(parseRender({"-l"}, cl, error));
    EXPECT_EQ(cl.action, Render::RenderCommandLine::Action::List);
}

TEST(RenderCommandLine, BadUsageGivesOneLine) {
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {{"in.png", "-o", "o.png"}, "no effect given"},
        {{"-e", "Rain", "in.png"}, "no output file given"},
        {{"-e", "Rain", "-o", "o.png"}, "no input image given"},
        {{"-e", "Rain", "a.png", "b.png", "-o", "o.png"}, "more than one input image given"},
        {{"-e", "Rain", "a.png", "-o", "o.png", "--set", "=3"}, "--set expects KEY=VALUE, not '=3'"},
        {{"-e", "Rain", "a.png", "-o", "o.png", "-j", "0"}, "--threads expects a positive number"},
        {{"-e", "Rain", "a.png", "-o", "o.png", "-j", "99999999999"}, "--threads expects a positive number"},
        {{"-e", "Rain", "a.png", "-o", "o.png", "--quality", "101"}, "--quality expects 1-100"},
        {{"--bogus"}, "Unknown option"},
        {{"-e"}, "Missing value"},
    };
    for (const auto& c : cases) {
        Render::RenderCommandLine cl;
        QString error;
        EXPECT_FALSE(parseRender(c.args, cl, error)) << c.args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(c.message)) << error.toStdString();
        EXPECT_FALSE(error.contains('\n')) << error.toStdString();
    }
}

TEST(HostCommandLine, EditTakesEveryOption) {
    Host::HostOptions o;
    std::string error;
    ASSERT_TRUE(
        parseHost({"edit",   "in.png", "-o",      "out.tif",  "--selection", "m.png",    "--params",
                   "p.info", "--fx",   "/opt/fx", "--effect", "Rain",        "--preset", "ORVEX Storm",
                   "--set",  "Den=8",  "--set",   "A==",      "--timeout",   "30"},
                  o, error))
        << error;
    EXPECT_EQ(o.action, Host::HostOptions::Action::Edit);
    EXPECT_EQ(o.input, "in.png");
    EXPECT_EQ(o.output, "out.tif");
    EXPECT_EQ(o.selection, "m.png");
    EXPECT_EQ(o.params, "p.info");
    EXPECT_EQ(o.fx, "/opt/fx");
    EXPECT_EQ(o.effect, "Rain");
    EXPECT_TRUE(o.batch); // --effect implies --batch
    EXPECT_EQ(o.preset, "ORVEX Storm");
    ASSERT_EQ(o.overrides.size(), 2u);
    EXPECT_EQ(o.overrides[1], std::make_pair(std::string("A"), std::string("=")));
    EXPECT_EQ(o.timeout, 30);
}

TEST(HostCommandLine, TimeoutDefaultsFollowTheBatchMode) {
    Host::HostOptions o;
    std::string error;
    ASSERT_TRUE(parseHost({"edit", "in.png", "-o", "out.png"}, o, error));
    EXPECT_FALSE(o.batch);
    EXPECT_EQ(o.timeout, 0);
    EXPECT_TRUE(o.fx.empty());
    ASSERT_TRUE(parseHost({"edit", "--batch", "in.png", "--output", "out.png"}, o, error));
    EXPECT_EQ(o.timeout, 600);
    ASSERT_TRUE(parseHost({"-h"}, o, error));
    EXPECT_EQ(o.action, Host::HostOptions::Action::Help);
}

TEST(HostCommandLine, BadUsageIsRefusedBeforeAnyFileIsRead) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{}, ""},
        {{"render"}, "unknown command render"},
        {{"edit", "in.png"}, "no output file given"},
        {{"edit", "-o", "out.png"}, "no input file given"},
        {{"edit", "a.png", "b.png", "-o", "o.png"}, "more than one input file"},
        {{"edit", "a.png", "-o"}, "-o needs a value"},
        {{"edit", "a.png", "-o", "o.png", "--frob"}, "unknown option --frob"},
        {{"edit", "a.png", "-o", "o.png", "--effect", "Rain", "--set", "Den"}, "--set expects KEY=VALUE"},
        {{"edit", "a.png", "-o", "o.png", "--preset", "X"}, "--preset and --set need --effect"},
        {{"edit", "a.png", "-o", "o.png", "--timeout", "-5"}, "--timeout expects seconds"},
        {{"edit", "a.png", "-o", "o.png", "--timeout", "10s"}, "--timeout expects seconds"},
        {{"edit", "a.png", "-o", "o.png", "--timeout", "99999999999999999999"}, "--timeout expects seconds"},
    };
    for (const auto& c : cases) {
        Host::HostOptions o;
        std::string error;
        EXPECT_FALSE(parseHost(c.args, o, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}
