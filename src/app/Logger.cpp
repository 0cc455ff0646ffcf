#include "app/Logger.h"
#include "app/Locations.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <cpuinfo.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ELEMORAMA_VERSION
#define ELEMORAMA_VERSION "0"
#endif

namespace Orvex {

Q_LOGGING_CATEGORY(lcKernel, "lib.kernel", QtWarningMsg)

namespace {

const char* const LevelNames[] = {"debug", "warning", "critical", "fatal", "info"};

struct LoggerState {
    std::mutex mutex;
    bool initialized = false;
    QVector<LogRule> rules;
    QLoggingCategory::CategoryFilter previousFilter = nullptr;
    QString header;
    QString prefix;
    Qt::HANDLE mainThread = nullptr;
    int fd = -2; // -2: not tried yet, -1: could not open
    QString filePath;
    QByteArray pending; // lines written before the file was open
    bool everythingOnStderr = false; // ORVEX_LOG_STDERR=all: debug and info lines too
};

LoggerState& state() {
    static LoggerState* s = new LoggerState; // lives until exit, also for late messages
    return *s;
}

void categoryFilter(QLoggingCategory* category) {
    LoggerState& s = state();
    if (s.previousFilter) s.previousFilter(category);
    const QString name = QString::fromLatin1(category->categoryName());
    const LogRule* last = nullptr;
    for (const LogRule& rule : s.rules)
        if (rule.matches(name)) last = &rule;
    if (!last) return;
    const int level = last->level;
    category->setEnabled(QtDebugMsg, level == LogRule::Debug);
    category->setEnabled(QtInfoMsg, level == LogRule::Debug || level == LogRule::Info);
    category->setEnabled(QtWarningMsg,
                         level == LogRule::Debug || level == LogRule::Info || level == LogRule::Warning);
    category->setEnabled(QtCriticalMsg, level != LogRule::Fatal);
}

QString cpuDescription() {
    if (!cpuinfo_initialize() || cpuinfo_get_packages_count() == 0) return QStringLiteral("UNKNOWN");
    QString text = QString::fromLatin1(cpuinfo_get_package(0)->name).trimmed();
    const uint32_t cores = cpuinfo_get_cores_count(), logical = cpuinfo_get_processors_count();
    text += QStringLiteral(", cores: %1").arg(cores);
    if (logical != cores) text += QStringLiteral(" [%1]").arg(logical);
    text += QStringLiteral(", Instructions Set:");
#if CPUINFO_ARCH_X86 || CPUINFO_ARCH_X86_64
    if (cpuinfo_has_x86_avx2())
        text += QStringLiteral(" AVX2");
    else if (cpuinfo_has_x86_avx())
        text += QStringLiteral(" AVX");
    else if (cpuinfo_has_x86_sse4_2())
        text += QStringLiteral(" SSE4.2");
    else if (cpuinfo_has_x86_sse4_1())
        text += QStringLiteral(" SSE4.1");
    else if (cpuinfo_has_x86_sse3())
        text += QStringLiteral(" SSE3");
    else if (cpuinfo_has_x86_sse2())
        text += QStringLiteral(" SSE2");
#endif
    return text;
}

// Opens a log file for writing without following a symbolic link at its name, so that the 0666
// mode given to it can never land on another file.
int openLogFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    const bool exists = lstat(name.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return -1;
    const bool stale = !exists || time(nullptr) - st.st_mtime > 24 * 3600;
    const int fd = open(name.constData(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (stale ? O_TRUNC : O_APPEND), 0666);
    if (fd < 0) return -1;
    struct stat opened;
    if (fstat(fd, &opened) == 0 && (opened.st_mode & 0666) != 0666)
        fchmod(fd, (opened.st_mode & 07777) | 0666);
    if (!stale) (void)!write(fd, "\n\n\n", 3);
    return fd;
}

void writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= size_t(n);
    }
}

void openFileLocked(LoggerState& s) {
    if (s.fd != -2) return;
    QStringList candidates;
    try {
        candidates << Locations::join(Locations::writable(Locations::Log), "ORVEX.log");
    } catch (...) {
    }
    // The fall-back: the user's own state directory.
    QString stateDir = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateDir.isEmpty()) stateDir = Locations::join(QDir::homePath(), ".local/state");
    stateDir = Locations::join(stateDir, "ORVEX");
    for (const QString& path : candidates) {
        s.fd = openLogFile(path);
        if (s.fd >= 0) {
            s.filePath = path;
            break;
        }
    }
    if (s.fd < 0) {
        QDir().mkpath(stateDir);
        const QString path = Locations::join(stateDir, "ORVEX.log");
        s.fd = openLogFile(path);
        if (s.fd >= 0) s.filePath = path;
    }
    if (s.fd < 0) {
        fprintf(stderr, "*** initLogFile() FAILED: can't open %s\n",
                qPrintable(candidates.value(0, Locations::join(stateDir, "ORVEX.log"))));
        s.fd = -1;
        return;
    }
    writeAll(s.fd, s.header.toUtf8());
    writeAll(s.fd, s.pending);
    s.pending.clear();
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    LoggerState& s = state();
    const QByteArray line = Logger::formatLine(type, context, text).toUtf8();
    std::lock_guard<std::mutex> lock(s.mutex);
    openFileLocked(s);
    // Standard error is the user's console (and the host's): it gets warnings and errors, and
    // everything only when asked for or when there is no log file to keep the rest.
    if ((type != QtDebugMsg && type != QtInfoMsg) || s.fd < 0 || s.everythingOnStderr) {
        fwrite(line.constData(), 1, size_t(line.size()), stderr);
        fflush(stderr);
    }
    if (s.fd >= 0) writeAll(s.fd, line);
    if (type == QtFatalMsg) abort();
}

void shutdownMessage() {
    LoggerState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    static const char text[] = "*** Logger shutdown ***\n";
    if (s.fd >= 0) writeAll(s.fd, QByteArray(text));
}

} // namespace

// --- LogRule -------------------------------------------------------------------------------------

bool LogRule::covers(const LogRule& other) const {
    if (!prefix) return !other.prefix && other.pattern == pattern;
    return other.pattern.startsWith(pattern);
}

QString LogRule::text() const {
    const QString levelName =
        level >= 0 && level <= 4 ? QString::fromLatin1(LevelNames[level]) : QStringLiteral("<error>");
    return pattern + (prefix ? QStringLiteral("*") : QString()) + QLatin1Char('=') + levelName;
}

bool LogRule::parse(const QString& text, LogRule* rule) {
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq < 0) return false;
    QString pattern = text.left(eq).trimmed();
    const QString level = text.mid(eq + 1).trimmed().toLower();
    LogRule r;
    if (pattern.endsWith(QLatin1Char('*'))) {
        r.prefix = true;
        pattern.chop(1);
    }
    if (pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char(' ')) ||
        (pattern.isEmpty() && !r.prefix))
        return false;
    r.pattern = pattern;
    if (level == QLatin1String("debug") || level == QLatin1String("true"))
        r.level = Debug;
    else if (level == QLatin1String("warning"))
        r.level = Warning;
    else if (level == QLatin1String("critical"))
        r.level = Critical;
    else if (level == QLatin1String("fatal") || level == QLatin1String("false") ||
             level == QLatin1String("off"))
        r.level = Fatal;
    else if (level == QLatin1String("info"))
        r.level = Info;
    else
        return false;
    *rule = r;
    return true;
}

QVector<LogRule> LogRule::parseSource(const QString& source, QString* errors) {
    QVector<LogRule> rules;
    QString text = source;
    const int hash = text.indexOf(QLatin1Char('#'));
    if (hash >= 0) text.truncate(hash);
    text = text.trimmed();
    for (QString part : text.split(QRegularExpression(QStringLiteral("[;\n]")))) {
        part = part.trimmed();
        if (part.isEmpty()) continue;
        LogRule rule;
        if (parse(part, &rule))
            rules << rule;
        else if (errors)
            *errors += QStringLiteral("Logger ERROR: LogRule::parse() failed on \"%1\"\n").arg(part);
    }
    return rules;
}

QVector<LogRule> LogRule::reduce(const QVector<LogRule>& rules) {
    QVector<LogRule> kept;
    for (int i = 0; i < rules.size(); ++i) {
        bool overridden = false;
        for (int j = i + 1; j < rules.size() && !overridden; ++j) overridden = rules[j].covers(rules[i]);
        if (!overridden) kept << rules[i];
    }
    return kept;
}

void LogRule::readRulesFile(const QString& text, const QString& product, QString* common,
                            QString* productRules) {
    QString section;
    QString productKey = product.toLower();
    productKey.remove(QLatin1Char(' '));
    for (QString line : text.split(QLatin1Char('\n'))) {
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0) line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty()) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        if (section == QLatin1String("common"))
            *common += line + QLatin1Char(';');
        else if (section == productKey)
            *productRules += line + QLatin1Char(';');
    }
}

bool LogRule::enabled(const QVector<LogRule>& rules, const QString& category, QtMsgType type, bool fallback) {
    const LogRule* last = nullptr;
    for (const LogRule& rule : rules)
        if (rule.matches(category)) last = &rule;
    if (!last) return fallback;
    switch (type) {
    case QtDebugMsg:
        return last->level == Debug;
    case QtInfoMsg:
        return last->level == Debug || last->level == Info;
    case QtWarningMsg:
        return last->level == Debug || last->level == Info || last->level == Warning;
    case QtCriticalMsg:
        return last->level != Fatal;
    default:
        return true;
    }
}

// --- Logger --------------------------------------------------------------------------------------

void Logger::initialize(const QString& productName) {
    LoggerState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.initialized) return;
        s.initialized = true;
    }
    QString errors;
    const QString envRules = qEnvironmentVariable("ORVEX_LOG_RULES");
    QString common, product;
    const QString rulesFile = Locations::find(Locations::Log, QStringLiteral("LogRules.txt"));
    if (!rulesFile.isEmpty()) {
        QFile file(rulesFile);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            LogRule::readRulesFile(QString::fromUtf8(file.readAll()), productName, &common, &product);
        else
            errors += QStringLiteral("Error opening \"%1\"\n").arg(rulesFile);
    }
    QVector<LogRule> rules;
    for (const QString& source : {envRules, common, product}) rules += LogRule::parseSource(source, &errors);
    rules = LogRule::reduce(rules);

    const QString stars(40, QLatin1Char('*'));
    QString header = stars;
    header += QStringLiteral("\nStarted  : ") +
              QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    header += QStringLiteral("\nProcess  : ") + QCoreApplication::applicationFilePath();
    header += QStringLiteral("\nVersion  : ") + QCoreApplication::applicationVersion() +
              QStringLiteral(" / ") + QStringLiteral(ELEMORAMA_VERSION " (" __DATE__ ")");
    header += QStringLiteral("\nOS       : ") + QSysInfo::prettyProductName();
    header += QStringLiteral("\nCPU      : ") + cpuDescription();
    header += QStringLiteral("\nPID      : ") + QString::number(QCoreApplication::applicationPid());
    header += QStringLiteral("\nThread ID: main - main\n") + stars + QStringLiteral("\nActive Log Rules:\n");
    for (const LogRule& rule : rules) header += rule.text() + QLatin1Char('\n');
    header += stars + QLatin1Char('\n');

    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.rules = rules;
        s.header = header;
        s.prefix = QStringLiteral("[%1] ").arg(QCoreApplication::applicationPid());
        s.mainThread = QThread::currentThreadId();
        s.everythingOnStderr = qEnvironmentVariable("ORVEX_LOG_STDERR").compare(QLatin1String("all"), Qt::CaseInsensitive) == 0;
    }
    s.previousFilter = QLoggingCategory::installFilter(categoryFilter);
    qInstallMessageHandler(messageHandler);
    std::atexit(shutdownMessage);
    if (!errors.isEmpty()) qCCritical(lcKernel).noquote() << "Errors during Logger initialization:" << errors;
}

QVector<LogRule> Logger::activeRules() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().rules;
}

QString Logger::logFilePath() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().filePath;
}

QString Logger::header() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().header;
}

QString Logger::formatLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const LoggerState& s = state();
    QString line = s.prefix;
    line += QTime::currentTime().toString(QStringLiteral("[hh:mm:ss] "));
    const Qt::HANDLE thread = QThread::currentThreadId();
    line += QLatin1Char('[') +
            (thread == s.mainThread ? QStringLiteral("main") : QString::number(quintptr(thread), 16)) +
            QStringLiteral("] ");
    switch (type) {
    case QtDebugMsg:
        line += QStringLiteral("[dbg] [");
        break;
    case QtWarningMsg:
        line += QStringLiteral("[wrn] [");
        break;
    case QtCriticalMsg:
        line += QStringLiteral("[crt] [");
        break;
    case QtFatalMsg:
        line += QStringLiteral("[fatal] [");
        break;
    case QtInfoMsg:
        line += QStringLiteral("[inf] [");
        break;
    default:
        line += QStringLiteral("[#%1] [").arg(int(type));
        break;
    }
    line += QString::fromLatin1(context.category ? context.category : "default") + QStringLiteral("] ");
    if ((type == QtCriticalMsg || type == QtFatalMsg) && context.file)
        line += QStringLiteral("[%1:%2 %3] ")
                    .arg(QString::fromUtf8(context.file))
                    .arg(context.line)
                    .arg(QString::fromUtf8(context.function ? context.function : ""));
    line += text;
    if (!text.endsWith(QLatin1Char('\n'))) line += QLatin1Char('\n');
    return line;
}

} // namespace Orvex
