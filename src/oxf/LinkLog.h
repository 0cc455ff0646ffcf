#pragma once
// The link log of the host link: "/var/log/ORVEX/orvex_oxf.log" (ORVEX_OXF_LOG_FILE names another
// file), opened for appending for every line, never through a symbolic link, and given mode 0666.
// A line that cannot be written is dropped. Trace lines appear only when ORVEX_RPC_LOG was set at
// process start; error and plain lines always, and also on standard error.

#include <cstdarg>

namespace Orvex::OXF {

class LinkLog {
public:
    // 'S' for the slave, 'M' for the master.
    static void setSide(char side);
    static bool traceEnabled();
    static void setTraceEnabled(bool enabled); // for tests

    static void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void plain(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Writes "ASSERTION FAILED: file:line, function: condition" and ends the process abnormally.
    [[noreturn]] static void assertionFailed(const char* file, int line, const char* function,
                                             const char* condition);
};

} // namespace Orvex::OXF

#define OXF_ASSERT(source, condition)                                                                        \
    do {                                                                                                     \
        if (!(condition)) ::Orvex::OXF::LinkLog::assertionFailed(source, __LINE__, __func__, #condition);    \
    } while (0)
