#include "oxf/LinkLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex::OXF {

namespace {

std::atomic<char> g_side{'S'};

bool traceFromEnvironment() {
    return getenv("ORVEX_RPC_LOG") != nullptr;
}
std::atomic<bool> g_trace{traceFromEnvironment()};

std::string logPath() {
    const char* path = getenv("ORVEX_OXF_LOG_FILE");
    return path && *path ? path : "/var/log/ORVEX/orvex_oxf.log";
}

void writeLine(const char* text, size_t length) {
    const int fd = open(logPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        (void)!write(fd, text, length);
        if ((st.st_mode & 0666) != 0666) fchmod(fd, (st.st_mode & 07777) | 0666);
    }
    close(fd);
}

constexpr size_t LineLimit = 4096;

void emit(const char* prefix, const char* suffix, bool toStderr, const char* format, va_list args) {
    char line[LineLimit + 64];
    int used = snprintf(line, sizeof line, "%s", prefix);
    if (used < 0) used = 0;
    int n = vsnprintf(line + used, LineLimit, format, args);
    if (n < 0) n = 0;
    size_t length = size_t(used) + std::min<size_t>(size_t(n), LineLimit - 1);
    length += size_t(snprintf(line + length, sizeof line - length, "%s", suffix));
    writeLine(line, length);
    if (toStderr) {
        fwrite(line, 1, length, stderr);
        if (length == 0 || line[length - 1] != '\n') fputc('\n', stderr);
    }
}

} // namespace

void LinkLog::setSide(char side) {
    g_side = side;
}
bool LinkLog::traceEnabled() {
    return g_trace;
}
void LinkLog::setTraceEnabled(bool enabled) {
    g_trace = enabled;
}

void LinkLog::trace(const char* format, ...) {
    if (!g_trace) return;
    char prefix[8];
    snprintf(prefix, sizeof prefix, "[%c]: ", g_side.load());
    va_list args;
    va_start(args, format);
    emit(prefix, "", false, format, args);
    va_end(args);
}

void LinkLog::error(const char* format, ...) {
    char prefix[8];
    snprintf(prefix, sizeof prefix, "[%c]: ", g_side.load());
    va_list args;
    va_start(args, format);
    emit(prefix, "", true, format, args);
    va_end(args);
}

void LinkLog::plain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit("", "\n", true, format, args);
    va_end(args);
}

void LinkLog::assertionFailed(const char* file, int line, const char* function, const char* condition) {
    error("ASSERTION FAILED: %s:%d, %s: %s\n", file, line, function, condition);
    abort();
}

} // namespace Orvex::OXF
