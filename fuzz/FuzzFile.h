#pragma once
// The parsers that read files take a path: the fuzz input goes to a scratch file of this process
// (in memory, under /dev/shm when there is one) that is rewritten for every input.
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

inline QString fuzzScratchFile(const char* extension) {
    static const QString dir =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return dir + QStringLiteral("/elemorama-fuzz-%1.%2").arg(getpid()).arg(QLatin1String(extension));
}

inline QString writeFuzzFile(const uint8_t* data, size_t size, const char* extension) {
    const QString path = fuzzScratchFile(extension);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    return path;
}
