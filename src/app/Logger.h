#pragma once
// The process-wide diagnostic log: every Qt message becomes one line in the log file ("ORVEX.log"
// in the Log location, or in the user's state directory when that cannot be written), filtered by
// category rules from ORVEX_LOG_RULES and the file "LogRules.txt". The header and debug and info
// lines stay in the file; standard error gets warnings and errors (everything with
// ORVEX_LOG_STDERR=all, or when no log file could be opened).
//
// Threads: the message handler may be called from any thread; one mutex serialises it.
// Errors: nothing throws; unreadable rule files and bad rules are reported once, as a critical
// message, after initialisation.

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Orvex {

Q_DECLARE_LOGGING_CATEGORY(lcKernel) // "lib.kernel"

struct LogRule {
    enum Level { Debug = 0, Warning = 1, Critical = 2, Fatal = 3, Info = 4 };
    QString pattern; // without the trailing "*"
    int level = Debug;
    bool prefix = false;

    bool matches(const QString& category) const {
        return prefix ? category.startsWith(pattern) : category == pattern;
    }
    // Whether this rule applies to every category that `other` applies to.
    bool covers(const LogRule& other) const;
    QString text() const; // "pattern[*]=level"

    // Parses "pattern = level"; false for anything else.
    static bool parse(const QString& text, LogRule* rule);
    // Every rule of a source (rules separated by ";" or newlines, "#" starts a comment); bad rules
    // add "Logger ERROR: LogRule::parse() failed on \"...\"" to `errors`.
    static QVector<LogRule> parseSource(const QString& source, QString* errors);
    // Drops rules that a later rule fully overrides; filtering gives the same result.
    static QVector<LogRule> reduce(const QVector<LogRule>& rules);
    // The rule sections of a LogRules.txt text: common lines and product lines, each ending in ";".
    static void readRulesFile(const QString& text, const QString& product, QString* common,
                              QString* productRules);
    // Whether `rules` enable `type` for `category`; `fallback` when no rule matches.
    static bool enabled(const QVector<LogRule>& rules, const QString& category, QtMsgType type,
                        bool fallback);
};

class Logger {
public:
    // Reads the rules, installs the category filter and the message handler. Runs once.
    static void initialize(const QString& productName);
    static QVector<LogRule> activeRules();
    static QString logFilePath(); // empty until the file is open, or when it could not be opened
    static QString header();
    // Formats one line as the handler writes it (without the process prefix when `withPrefix` is off).
    static QString formatLine(QtMsgType type, const QMessageLogContext& context, const QString& text);
};

} // namespace Orvex
