#include "settings/SettingsGroup.h"
#include "settings/SettingsValueText.h"
#include "settings/SettingsXML.h"

#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace Orvex;

TEST(SettingsGroup, PathsAreNormalisedAndKeysFormed) {
    SettingsMap store;
    SettingsGroupRW group(&store, "/X/Y/");
    EXPECT_EQ(group.prefix(), "X/Y/");
    EXPECT_EQ(group.fullKey("/Z/"), "X/Y/Z");
    SettingsGroupRW root(&store, "");
    EXPECT_EQ(root.fullKey("a/b"), "a/b");
    SettingsGroupRW sub(group, "Sub");
    sub.setValue("k", 1);
    EXPECT_TRUE(store.contains("X/Y/Sub/k"));
    EXPECT_FALSE(SettingsGroupRO(&store, "x").isWritable());
    EXPECT_TRUE(sub.isWritable());
}

TEST(SettingsGroup, ChildKeysAndGroups) {
    SettingsMap store;
    for (const char* k : {"G/b/z", "G/a/x", "G/a/y", "G/c", "Other/q"}) store.setValue(k, 1);
    SettingsGroupRO g(&store, "G");
    EXPECT_EQ(g.childGroups(), QStringList({"a", "b"}));
    EXPECT_EQ(g.childKeys(), QStringList({"c"}));
    EXPECT_EQ(g.allKeys(), QStringList({"a/x", "a/y", "b/z", "c"}));
}

TEST(SettingsGroup, TypedReadsFallBackToTheDefault) {
    SettingsMap store;
    SettingsGroupRW g(&store, "P");
    g.setValue("int", 42);
    g.setValue("intText", " 17 ");
    g.setValue("realText", "2.6");
    g.setValue("junk", "12abc");
    g.setValue("nan", "nan");
    g.setValue("huge", "99999999999");
    g.setValue("boolText", "TRUE");
    g.setValue("boolJunk", "maybe");
    g.setValue("rect", QRect(1, 2, 3, 4));

    EXPECT_EQ(g.read("int", 5), 42);
    EXPECT_EQ(g.read("missing", 5), 5);
    EXPECT_EQ(g.read("intText", 5), 17);
    EXPECT_EQ(g.read("realText", 5), 3); // a real where an int belongs is rounded
    EXPECT_EQ(g.read("junk", 5), 5);
    EXPECT_EQ(g.read("junk", 0.25), 0.25);
    EXPECT_EQ(g.read("nan", 0.25), 0.25);
    EXPECT_EQ(g.read("huge", 5), 5);
    EXPECT_EQ(g.read("huge", qint64(5)), qint64(99999999999));
    EXPECT_EQ(g.read("int", -1.0), 42.0);
    EXPECT_EQ(g.read("boolText", false), true);
    EXPECT_EQ(g.read("boolJunk", true), true);
    EXPECT_EQ(g.read("boolJunk", false), false);
    EXPECT_EQ(g.read("int", false), false); // 42 is not a truth value
    EXPECT_EQ(g.read("junk", "d"), "12abc");
    EXPECT_EQ(g.read("missing", "d"), "d");
    EXPECT_EQ(g.read("int", -1u), 42u);
    EXPECT_EQ(g.read("rect", -1), -1);
    EXPECT_EQ(g.readValue("rect", QRect()), QRect(1, 2, 3, 4));
}

TEST(SettingsArray, SizeWrittenOnCloseOrAtOnce) {
    SettingsMap store;
    SettingsGroupRW group(&store, "Filters/Rain");
    {
        SettingsArrayRW list(group, "List", -1);
        list.setArrayIndex(0);
        list.setValue("Presets", "a");
        list.setArrayIndex(4);
        list.setValue("Presets", "e");
        list.setArrayIndex(2);
        list.setValue("Presets", "c");
        EXPECT_FALSE(store.contains("Filters/Rain/List/size"));
    }
    EXPECT_EQ(store.value("Filters/Rain/List/size").toInt(), 5);
    EXPECT_EQ(store.value("Filters/Rain/List/3/Presets").toString(), "c");
    EXPECT_EQ(store.value("Filters/Rain/List/5/Presets").toString(), "e");

    SettingsArrayRO reader(group, "List");
    EXPECT_EQ(reader.size(), 5);
    reader.setArrayIndex(4);
    EXPECT_EQ(reader.read("Presets", ""), "e");
    EXPECT_EQ(group.arraySize("List"), 5);

    {
        SettingsArrayRW fixed(group, "Fixed", 3);
        EXPECT_EQ(store.value("Filters/Rain/Fixed/size").toInt(), 3);
        fixed.setArrayIndex(7);
        fixed.setValue("k", 1);
        SettingsGroupRW inElement(fixed, "Sub");
        EXPECT_EQ(inElement.fullKey("x"), "Filters/Rain/Fixed/8/Sub/x");
    }
    EXPECT_EQ(store.value("Filters/Rain/Fixed/size").toInt(), 3);
    { SettingsArrayRW unused(group, "Empty", -1); }
    EXPECT_EQ(store.value("Filters/Rain/Empty/size").toInt(), 0);
}

TEST(SettingsMap, RemoveContainsAndModified) {
    SettingsMap store;
    EXPECT_FALSE(store.modified());
    store.setValue("a/b", 1);
    store.setValue("a/c/d", 2);
    store.setValue("ab", 3);
    store.setValue("a", 4);
    EXPECT_TRUE(store.modified());
    EXPECT_TRUE(store.contains("a"));
    EXPECT_TRUE(store.contains("a/c"));
    EXPECT_TRUE(store.contains("a/c/"));
    EXPECT_FALSE(store.contains("a/x"));
    EXPECT_FALSE(store.contains("a/c/d/e"));
    store.remove("a");
    EXPECT_EQ(store.allKeys(), QStringList({"ab"}));
    store.remove("");
    EXPECT_FALSE(store.hasKeys());
}

TEST(SettingsMap, TSettingsForwardsToQSettings) {
    QTemporaryDir dir;
    QSettings qs(dir.filePath("s.ini"), QSettings::IniFormat);
    {
        TSettings<QSettings> store(&qs);
        SettingsGroupRW g(&store, "Filters/OXF/Elemorama");
        g.setValue("Amount", "not a number");
        g.setValue("Scale", 1.5);
        EXPECT_TRUE(store.modified());
        store.sync();
        EXPECT_FALSE(store.modified());
        EXPECT_EQ(g.read("Amount", 7), 7);
        EXPECT_EQ(g.read("Scale", 1.0), 1.5);
        EXPECT_TRUE(store.contains("Filters/OXF/Elemorama/Scale"));
    }
    EXPECT_TRUE(qs.contains("Filters/OXF/Elemorama/Scale")); // the wrapper does not own QSettings
}

// --- value text ----------------------------------------------------------------------------

TEST(SettingsValueText, WritesTheDocumentedForms) {
    EXPECT_EQ(settingsValueToText(QVariant()), "@Invalid()");
    EXPECT_EQ(settingsValueToText(true), "true");
    EXPECT_EQ(settingsValueToText(-12), "-12");
    EXPECT_EQ(settingsValueToText(QString("@home")), "@@home");
    EXPECT_EQ(settingsValueToText(3.0), "3.0");
    EXPECT_EQ(settingsValueToText(0.1), "0.1");
    EXPECT_EQ(settingsValueToText(0.0000001), "0.0");
    EXPECT_EQ(settingsValueToText(1.0 / 3.0), "0.333333");
    EXPECT_EQ(settingsValueToText(-0.0000001), "0.0");
    EXPECT_EQ(settingsValueToText(2.5f), "2.5");
    EXPECT_EQ(settingsValueToText(QRect(1, 2, 30, 40)), "@Rect(1 2 30 40)");
    EXPECT_EQ(settingsValueToText(QSize(3, 4)), "@Size(3 4)");
    EXPECT_EQ(settingsValueToText(QPoint(-1, 2)), "@Point(-1 2)");
    EXPECT_EQ(settingsValueToText(QVariant::fromValue(AdobeUntF{0x2350786C, 12.0})), "@UntF(#Pxl 12.0)");
    EXPECT_EQ(settingsValueToText(QVariant::fromValue(AdobeEnumerated{0x4F726E74, 0x48727A6E})),
              "@Enum(Ornt Hrzn)");
    EXPECT_TRUE(settingsValueToText(QStringList{"a", "b"}).startsWith("@Variant("));
}

TEST(SettingsValueText, ReadsBackEveryForm) {
    const QList<QVariant> values = {
        QVariant(),
        true,
        false,
        12,
        -7,
        QString("@home"),
        QString("@@x"),
        QString("hello world"),
        2.5,
        QRect(1, 2, 30, 40),
        QSize(3, 4),
        QPoint(-1, 2),
        QStringList{"a", "b"},
        QVariant::fromValue(AdobeUntF{fourCCFromString("Rd  "), -3.5}),
        QVariant::fromValue(AdobeEnumerated{fourCCFromString("a b "), fourCCFromString(" ) (")}),
        QByteArray("\x00\x01 raw", 6),
        qlonglong(1) << 40};
    for (const QVariant& v : values) {
        const QString text = settingsValueToText(v);
        const QVariant back = settingsValueFromText(text);
        EXPECT_EQ(back.userType(), v.userType()) << qPrintable(text);
        EXPECT_EQ(settingsValueToText(back), text);
        if (v.userType() == qMetaTypeId<AdobeEnumerated>())
            EXPECT_EQ(back.value<AdobeEnumerated>(), v.value<AdobeEnumerated>());
        else if (v.userType() == qMetaTypeId<AdobeUntF>())
            EXPECT_EQ(back.value<AdobeUntF>(), v.value<AdobeUntF>());
        else
            EXPECT_EQ(back, v) << qPrintable(text);
    }
}

TEST(SettingsValueText, ClassifiesPlainTexts) {
    EXPECT_EQ(settingsValueFromText("12").userType(), int(QMetaType::Int));
    EXPECT_EQ(settingsValueFromText("1.50"), QVariant(1.5));
    EXPECT_EQ(settingsValueFromText("-3"), QVariant(-3));
    for (const char* s : {"1.2.3", "12_a", "#12", "5%", "--1", "1-2", "-", ".", "abc", "1e5", ""})
        EXPECT_EQ(settingsValueFromText(s).userType(), int(QMetaType::QString)) << s;
    // Malformed "@" forms come back as the text itself.
    for (const char* s :
         {"@Rect(1 2 3)", "@Size(a b)", "@Enum(ab cd)", "@Variant(!!)", "@Nothing", "@Rect(1 2 3 4"})
        EXPECT_EQ(settingsValueFromText(s), QVariant(QString(s))) << s;
}

// --- XML form ------------------------------------------------------------------------------

TEST(SettingsXML, WritesNestedGroupsAndReadsThemBack) {
    QByteArray out;
    {
        SettingsXML xml(QByteArray(), &out);
        xml.setValue("X/Y/Z", 30);
        xml.setValue("X/Y/W", "text");
        xml.setValue("X/V", 0.5);
        xml.setValue("Top", true);
        xml.setValue("Empty/" + SettingsXML::NilKey, QVariant());
    }
    EXPECT_TRUE(out.contains("<Orvex>"));
    EXPECT_TRUE(out.contains("<group name=\"Y\">"));
    EXPECT_TRUE(out.contains("<item Z=\"30\"/>"));
    EXPECT_TRUE(out.contains("<group name=\"Empty\"/>"));
    EXPECT_FALSE(out.contains("nil"));
    // Groups are not reopened for keys that share them.
    EXPECT_EQ(out.count("<group name=\"X\">"), 1);

    SettingsXML back(out, nullptr);
    EXPECT_EQ(back.status(), 0);
    EXPECT_EQ(back.value("X/Y/Z"), QVariant(30));
    EXPECT_EQ(back.value("X/Y/W"), QVariant("text"));
    EXPECT_EQ(back.value("X/V"), QVariant(0.5));
    EXPECT_EQ(back.value("Top"), QVariant(true));
    EXPECT_TRUE(back.contains("Empty"));
    EXPECT_EQ(back.allKeys().size(), 5);
    EXPECT_EQ(back.toXml(), out);
}

// Found by fuzzing: a value holding a NUL made the writer stop mid-document ("</>"), so the file
// it wrote could not be read back. Characters XML cannot carry are left out; the rest stays.
TEST(SettingsXML, ValuesWithCharactersXmlCannotCarryStillReadBack) {
    SettingsXML xml(QByteArray(), nullptr);
    xml.setValue("G\x01roup/Flag", QString::fromUtf16(u"a\u0000b\u0007c\td\uFFFEe\U0001F600f", 12));
    xml.setValue("Other", 7);
    const QByteArray written = xml.toXml();
    EXPECT_TRUE(written.endsWith("</Orvex>\n")) << written.constData();
    SettingsXML back(written, nullptr);
    ASSERT_EQ(back.status(), 0) << written.constData();
    EXPECT_EQ(back.value("Group/Flag").toString(), QString::fromUtf16(u"abc\tde\U0001F600f"));
    EXPECT_EQ(back.value("Other"), QVariant(7));
    EXPECT_EQ(back.toXml(), written);
}

TEST(SettingsXML, ReadsArraysAndReportsReaderErrors) {
    SettingsXML xml(QByteArray("<Orvex><array name=\"L\" size=\"2\"><aitem idx=\"1\" a=\"5\"/>"
                               "<aitem idx=\"2\" a=\"x\"/></array></Orvex>"),
                    nullptr);
    EXPECT_EQ(xml.status(), 0);
    EXPECT_EQ(xml.value("L/size"), QVariant(2));
    EXPECT_EQ(xml.value("L/2/a"), QVariant("x"));

    struct Case {
        const char* xml;
        const char* error;
    } cases[] = {
        {"<Orvex><group/></Orvex>", "Expectied Group Name"},
        {"<Orvex>\n  <item/></Orvex>", "Expectied Attributes"},
        {"<Orvex><array size=\"2\"/></Orvex>", "Expectied Array Name"},
        {"<Orvex><array name=\"a\" size=\"0\"/></Orvex>", "Invalid Array Size"},
        {"<Orvex><array name=\"a\" size=\"1\"><array name=\"b\" size=\"1\"/></array></Orvex>",
         "Invalid Array Size"},
        {"<Orvex><aitem idx=\"1\"/></Orvex>", "Invalid Array item"},
        {"<Orvex><item a=\"1\">", "Premature end"},
    };
    for (const Case& c : cases) {
        SettingsXML bad(QByteArray(c.xml), nullptr);
        EXPECT_EQ(bad.status(), 1) << c.xml;
        EXPECT_TRUE(SettingsXML::lastError().contains(c.error)) << qPrintable(SettingsXML::lastError());
    }
    SettingsXML located(QByteArray("<Orvex>\n<item k=\"1\"/>\n  <item/></Orvex>"), nullptr);
    EXPECT_EQ(located.value("k"), QVariant(1)); // keys before the error stay
    EXPECT_TRUE(SettingsXML::lastError().contains("(L: 3, C: 9)")) << qPrintable(SettingsXML::lastError());
}

TEST(SettingsXML, LastErrorIsPerThread) {
    SettingsXML bad(QByteArray("<Orvex><group/></Orvex>"), nullptr);
    QString other = "unset";
    QThread* t = QThread::create([&other] { other = SettingsXML::lastError(); });
    t->start();
    t->wait();
    delete t;
    EXPECT_TRUE(other.isEmpty());
    EXPECT_FALSE(SettingsXML::lastError().isEmpty());
}

TEST(SettingsXML, FilesAreWrittenOnlyWhenChanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath("deep/er/profiles.xml");
    {
        SettingsXML missing(path);
        EXPECT_EQ(missing.status(), 1);
        SettingsGroupRW g(&missing, "profiles");
        g.setValue("sRGB", "/usr/share/color/icc/srgb.icc");
    } // destructor writes, creating the directories
    ASSERT_TRUE(QFileInfo::exists(path));
    {
        SettingsXML loaded(path);
        EXPECT_EQ(loaded.status(), 0);
        EXPECT_FALSE(loaded.modified());
        EXPECT_EQ(SettingsGroupRO(&loaded, "profiles").read("sRGB", ""), "/usr/share/color/icc/srgb.icc");
        QFile::remove(path);
        loaded.sync(); // unchanged: no write
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsXML unwritable(dir.filePath("file/sub.xml"), false);
    unwritable.setValue("a", 1);
    unwritable.sync();
    EXPECT_EQ(unwritable.status(), 1);
    EXPECT_FALSE(unwritable.modified());
}
