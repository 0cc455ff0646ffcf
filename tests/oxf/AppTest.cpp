#include "app/Locations.h"
#include "app/Logger.h"
#include "app/OrvexApplication.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace Orvex;

namespace {
QVector<LogRule> rules(const char* text) {
    QString errors;
    return LogRule::parseSource(QString::fromUtf8(text), &errors);
}
} // namespace

TEST(LogRules, ParseLevelsAndErrors) {
    QString errors;
    const auto parsed = LogRule::parseSource(
        " lib.* = warning ; lib.kernel=debug\nqt.*=off;a=true ;b = info # x=debug", &errors);
    ASSERT_EQ(parsed.size(), 5);
    EXPECT_TRUE(parsed[0].prefix);
    EXPECT_EQ(parsed[0].pattern, "lib.");
    EXPECT_EQ(parsed[2].level, LogRule::Fatal);
    EXPECT_EQ(parsed[3].level, LogRule::Debug);
    EXPECT_EQ(parsed[4].level, LogRule::Info);
    EXPECT_TRUE(errors.isEmpty());
    LogRule::parseSource("a*b=debug;c=loud;=debug;nothing", &errors);
    EXPECT_EQ(errors.count("Logger ERROR: LogRule::parse() failed on"), 4);
    EXPECT_TRUE(errors.contains("\"c=loud\""));
}

TEST(LogRules, LastMatchingRuleDecides) {
    const auto r = rules("lib.*=warning;lib.kernel=debug");
    EXPECT_TRUE(LogRule::enabled(r, "lib.kernel", QtDebugMsg, false));
    EXPECT_FALSE(LogRule::enabled(r, "lib.ds", QtDebugMsg, true));
    EXPECT_FALSE(LogRule::enabled(r, "lib.ds", QtInfoMsg, true));
    EXPECT_TRUE(LogRule::enabled(r, "lib.ds", QtWarningMsg, false));
    EXPECT_TRUE(LogRule::enabled(r, "other", QtDebugMsg, true)); // no rule: the fall-back
    const auto info = rules("x=info");
    EXPECT_FALSE(LogRule::enabled(info, "x", QtDebugMsg, true));
    EXPECT_TRUE(LogRule::enabled(info, "x", QtInfoMsg, false));
    const auto off = rules("x=critical;y=off");
    EXPECT_FALSE(LogRule::enabled(off, "x", QtWarningMsg, true));
    EXPECT_TRUE(LogRule::enabled(off, "x", QtCriticalMsg, false));
    EXPECT_FALSE(LogRule::enabled(off, "y", QtCriticalMsg, true));
}

TEST(LogRules, ReducingKeepsTheOutcome) {
    const auto all =
        rules("lib.kernel=debug;lib.ds=info;lib.*=warning;lib.kernel=critical;qt.x=off;qt.*=info;a=debug");
    const auto reduced = LogRule::reduce(all);
    EXPECT_EQ(reduced.size(), 4); // lib.*, lib.kernel=critical, qt.*, a
    for (const char* category : {"lib.kernel", "lib.ds", "lib.other", "qt.x", "qt.y", "a", "b"})
        for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            EXPECT_EQ(LogRule::enabled(all, category, type, true),
                      LogRule::enabled(reduced, category, type, true))
                << category << " " << type;
    EXPECT_EQ(reduced[1].text(), "lib.kernel=critical");
    EXPECT_EQ(reduced[0].text(), "lib.*=warning");
}

TEST(LogRules, RulesFileSections) {
    QString common, product;
    LogRule::readRulesFile(
        "a=debug\n[ Common ]\nb=info # note\n\n[elemorama]\nc=off\n[other]\nd=debug\n[ELEMO RAMA]\n",
        "Elemo rama", &common, &product);
    EXPECT_EQ(common, "b=info;");
    EXPECT_EQ(product, "c=off;"); // the product's section name is compared without blanks
    QString common2, product2;
    LogRule::readRulesFile("[other]\nc=off\n", "Elemorama", &common2, &product2);
    EXPECT_TRUE(common2.isEmpty() && product2.isEmpty());
}

TEST(LogRules, LineFormat) {
    QMessageLogContext context("file.cpp", 12, "void f()", "lib.kernel");
    const QString warning = Logger::formatLine(QtWarningMsg, context, "hello");
    EXPECT_TRUE(warning.endsWith("[wrn] [lib.kernel] hello\n")) << qPrintable(warning);
    const QString critical = Logger::formatLine(QtCriticalMsg, context, "bad\n");
    EXPECT_TRUE(critical.endsWith("[crt] [lib.kernel] [file.cpp:12 void f()] bad\n")) << qPrintable(critical);
    EXPECT_TRUE(Logger::formatLine(QtMsgType(9), context, "x").contains("[#9] ["));
}

TEST(Languages, SystemLanguageAndResolution) {
    for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(v);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(OrvexApplication::systemLanguage(), "de");
    setenv("LANG", "POSIX", 1);
    EXPECT_EQ(OrvexApplication::systemLanguage(), "en");
    setenv("LANGUAGE", "fr", 1);
    setenv("LC_ALL", "es_ES", 1);
    EXPECT_EQ(OrvexApplication::systemLanguage(), "es");
    const QString supported = "en de fr es ru it pt jp";
    EXPECT_EQ(OrvexApplication::resolveLanguage("3", "", supported), "es");
    EXPECT_EQ(OrvexApplication::resolveLanguage("sp", "", supported), "es");
    EXPECT_EQ(OrvexApplication::resolveLanguage("xx", "", supported), "en");
    EXPECT_EQ(OrvexApplication::resolveLanguage("DE", "", supported), "de");
    EXPECT_EQ(OrvexApplication::resolveLanguage("9", "", supported), "en");
    EXPECT_EQ(OrvexApplication::resolveLanguage("de", "ru", "ru"), "ru");
}

TEST(Locations, SandboxedInstallation) {
    // The bases are computed once per process: this is the first use in this test binary.
    setenv("APPDIR", "/opt/x", 1);
    EXPECT_TRUE(Locations::isSandboxed());
    EXPECT_EQ(Locations::dirs(Locations::InstalledData), QStringList{"/opt/x/usr/share/ORVEX/Elemorama"});
    EXPECT_EQ(Locations::dirs(Locations::Binaries), QStringList{"/opt/x/usr/libexec/ORVEX"});
    EXPECT_EQ(Locations::dirs(Locations::NN), QStringList{"/opt/x/usr/share/ORVEX/nn"});
    EXPECT_TRUE(Locations::dirs(Locations::Log).value(0).endsWith(".local/log/ORVEX"));
    EXPECT_EQ(Locations::dirs(Locations::Presets).size(), 2);
    EXPECT_THROW(Locations::dirs(5), std::runtime_error);
    EXPECT_THROW(Locations::dirs(40), std::runtime_error);
    EXPECT_THROW(Locations::writable(Locations::InstalledData), std::logic_error);
    EXPECT_EQ(Locations::find(Locations::InstalledData, "nothing-here"), "");
    EXPECT_EQ(Locations::join("", "b"), "b");
    EXPECT_EQ(Locations::join("a/", "b"), "a/b");
    EXPECT_EQ(Locations::join("a", "b"), "a/b");
}

// The logger installs itself once per process and settles the locations, so this is the only
// test that initialises it, and it runs last.
TEST(LogOutput, StandardErrorGetsWarningsAndErrorsTheFileEverything) {
    setenv("ORVEX_LOG_RULES", "lib.kernel=debug", 1);
    unsetenv("ORVEX_LOG_STDERR");
    int argc = 1;
    char name[] = "test_app";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QTemporaryFile captured;
    ASSERT_TRUE(captured.open());
    fflush(stderr);
    const int saved = dup(2);
    ASSERT_GE(saved, 0);
    dup2(int(captured.handle()), 2);
    Logger::initialize(QStringLiteral("Quintelle"));
    qCDebug(lcKernel) << "debug-line-for-the-file";
    qCInfo(lcKernel) << "info-line-for-the-file";
    qCWarning(lcKernel) << "warning-line-for-both";
    qCCritical(lcKernel) << "critical-line-for-both";
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    captured.seek(0);
    const QString console = QString::fromUtf8(captured.readAll());
    EXPECT_TRUE(console.contains("warning-line-for-both")) << qPrintable(console);
    EXPECT_TRUE(console.contains("critical-line-for-both")) << qPrintable(console);
    const QString path = Logger::logFilePath();
    if (path.isEmpty()) GTEST_SKIP() << "no log file could be opened; everything went to standard error";
    EXPECT_FALSE(console.contains("Active Log Rules")) << qPrintable(console);
    EXPECT_FALSE(console.contains("debug-line-for-the-file")) << qPrintable(console);
    EXPECT_FALSE(console.contains("info-line-for-the-file")) << qPrintable(console);

    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const int header = text.lastIndexOf("Active Log Rules:");
    ASSERT_GE(header, 0);
    const QString ours = text.mid(header);
    EXPECT_TRUE(ours.contains("lib.kernel=debug"));
    for (const char* line : {"debug-line-for-the-file", "info-line-for-the-file", "warning-line-for-both",
                             "critical-line-for-both"})
        EXPECT_TRUE(ours.contains(line)) << line;
}
