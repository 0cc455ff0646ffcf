// Trunk list files: scaling rules, both trunk forms, round trips, and damaged or hostile files.
#include "document/filters/TrunkListFile.h"
#include "document/filters/lightning/LightningLineSets.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

using namespace Orvex::Document::Filters;
using Orvex::Detail::SizeT;

namespace {

TrunkListContent readText(const QByteArray& text, SizeT<int> size) {
    QByteArray bytes = text;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readTrunkList(buffer, size);
}

QByteArray file(const char* rootAttributes, const char* body) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<elemorama ") + rootAttributes + ">\n" +
           body + "</elemorama>\n";
}

} // namespace

TEST(TrunkListFile, ScaleLengthsFollowTheAspect) {
    const QByteArray body = "<trunk x1=\"0.1\" y1=\"0.2\" x2=\"0.5\" y2=\"0.4\"/>\n";
    // Without "aspect": fractions of the width and the height.
    TrunkListContent c = readText(file("type=\"TrunkList\"", body), {1000, 500});
    ASSERT_EQ(c.status, TrunkListStatus::Ok);
    EXPECT_EQ(c.lines, (std::vector<Segment>{{100, 100, 500, 200}}));
    // "fixed": both of the longer side.
    c = readText(file("type=\"Aurora\" aspect=\"fixed\"", body), {1000, 1500});
    EXPECT_EQ(c.lines, (std::vector<Segment>{{150, 300, 750, 600}}));
    // A shape of 1.5 in a portrait picture scales by its width, in a wide panorama by its height.
    c = readText(file("type=\"Lightning\" aspect=\"150\"", body), {1000, 1500});
    EXPECT_EQ(c.lines, (std::vector<Segment>{{100, 200, 500, 400}}));
    c = readText(file("type=\"TrunkList\" aspect=\"150\"", body), {3000, 1000});
    EXPECT_EQ(c.lines, (std::vector<Segment>{{100, 200, 500, 400}}));
    // A bad aspect is a malformed file.
    c = readText(file("type=\"TrunkList\" aspect=\"wide\"", body), {300, 200});
    EXPECT_EQ(c.status, TrunkListStatus::Malformed);
}

TEST(TrunkListFile, ElementFormClampingAndRounding) {
    const TrunkListContent c = readText(
        file("type=\"TrunkList\"", "<trunk><begin x=\"0.25\" y=\"0.5\"/><end x=\"0.75\" y=\"0.5\"/></trunk>\n"
                                   "<note/>\n"
                                   "<trunk x1=\"-5\" y1=\"9\" x2=\"0.0625\" y2=\"0.3125\"/>\n"
                                   "<trunk x1=\"0.5\" y1=\"0.5\" x2=\"0.5004\" y2=\"0.5\"/>\n"
                                   "<trunk x1=\"nan\" y1=\"0\" x2=\"1\" y2=\"1\"/>\n"
                                   "<trunk><begin x=\"0.1\" y=\"0.1\"/></trunk>\n"),
        {200, 200});
    ASSERT_EQ(c.status, TrunkListStatus::Ok);
    // Coordinates beyond -1 ... 2 are clamped before scaling; 0.5 rounds away from zero.
    EXPECT_EQ(c.lines, (std::vector<Segment>{{50, 100, 150, 100}, {-200, 400, 13, 63}}));
    EXPECT_EQ(c.dropped, 3) << "ends that meet, an unreadable number, a trunk without its end";
}

TEST(TrunkListFile, RoundTripsThroughTheWriter) {
    QTemporaryDir dir;
    const std::vector<Segment> lines{{0, 10, 399, 290}, {17, 280, 333, 5}, {-30, 150, 450, 160}};
    for (const SizeT<int> size : {SizeT<int>{400, 300}, SizeT<int>{4000, 3000}, SizeT<int>{1001, 1000}}) {
        const QString path = dir.filePath("lines.xml");
        QString error;
        ASSERT_TRUE(writeTrunkList(path, size, lines, &error)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(path + ".tmp"));
        const TrunkListContent back = readTrunkList(path, size);
        ASSERT_EQ(back.status, TrunkListStatus::Ok);
        EXPECT_EQ(back.lines, lines) << size.width << "x" << size.height;
    }
    // Writing over an existing file replaces it; a directory that does not exist says why.
    QString error;
    EXPECT_FALSE(writeTrunkList(dir.filePath("missing/lines.xml"), {10, 10}, lines, &error));
    EXPECT_EQ(error, QStringLiteral("Cannot open temporary file for write."));
}

TEST(TrunkListFile, DamagedFilesSayWhatIsWrong) {
    struct Case {
        QByteArray text;
        TrunkListStatus status;
        const char* message;
    };
    const Case cases[] = {
        {"", TrunkListStatus::Malformed, "Error loading from lines.xml"},
        {"not xml at all", TrunkListStatus::Malformed, "Error loading from lines.xml"},
        {"<elemorama type=\"TrunkList\"><trunk x1=\"0.1\" y1=\"0.2\" x2=\"0.5\" y2",
         TrunkListStatus::Malformed, "Error loading from lines.xml (line 1"},
        {file("type=\"TrunkList\"", "<trunk x1=\"0.1\" y1=\"0.2\" x2=\"0.5\" y2=\"0.4\"/>\n").left(80),
         TrunkListStatus::Malformed, "Error loading from"},
        {"<other/>", TrunkListStatus::NoTrunks, "Error loading from lines.xml (no \"elemorama\" element)"},
        {file("", ""), TrunkListStatus::NoTrunks, "Error loading from lines.xml (the root has no \"type\")"},
        {file("type=\"TrunkList\"", ""), TrunkListStatus::NoTrunks, "Error loading from lines.xml (no line)"},
        {file("type=\"Rain\"", "<trunk x1=\"0.1\" y1=\"0.2\" x2=\"0.5\" y2=\"0.4\"/>"),
         TrunkListStatus::OtherType, "File lines.xml is for Rain effect"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const TrunkListContent content = readText(c.text, {100, 100});
        EXPECT_EQ(content.status, c.status);
        EXPECT_TRUE(content.lines.empty());
        EXPECT_TRUE(trunkListMessage(content, "/somewhere/lines.xml").startsWith(c.message))
            << trunkListMessage(content, "/somewhere/lines.xml").toStdString();
    }
    EXPECT_EQ(readTrunkList(QStringLiteral("/nonexistent/lines.xml"), {100, 100}).status,
              TrunkListStatus::Unreadable);
}

TEST(TrunkListFile, HugeFilesAreRefusedWithoutReadingThemWhole) {
    // More lines than the limit: refused once the limit is passed.
    QByteArray many = "<elemorama type=\"TrunkList\">\n";
    const QByteArray trunk = "<trunk x1=\"0.1\" y1=\"0.2\" x2=\"0.5\" y2=\"0.4\"/>\n";
    many.reserve(trunk.size() * (kMaxTrunkListLines + 10));
    for (int i = 0; i <= kMaxTrunkListLines; ++i) many += trunk;
    many += "</elemorama>\n";
    TrunkListContent c = readText(many, {100, 100});
    EXPECT_EQ(c.status, TrunkListStatus::TooMany);
    EXPECT_TRUE(c.lines.empty());
    // A file larger than the size limit is not parsed at all.
    QTemporaryDir dir;
    QFile big(dir.filePath("big.xml"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(kMaxTrunkListBytes + 1));
    big.close();
    c = readTrunkList(big.fileName(), {100, 100});
    EXPECT_EQ(c.status, TrunkListStatus::Unreadable);
    EXPECT_TRUE(c.detail.contains("larger than"));
}

TEST(TrunkListFile, TheBuiltInLineSetsRead) {
    for (int n = 1; n <= kLightningLineSets; ++n) {
        const TrunkListContent c = readTrunkList(lightningLineSetPath(n), {300, 200});
        ASSERT_EQ(c.status, TrunkListStatus::Ok) << n;
        EXPECT_FALSE(c.lines.empty());
        for (const Segment& s : c.lines)
            for (int v : {s.x1, s.x2}) EXPECT_TRUE(v >= 0 && v <= 300);
    }
}
