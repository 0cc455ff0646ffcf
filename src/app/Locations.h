#pragma once
// Where the program's files live, for a normal and for a sandboxed installation. The base
// directories are computed once, at first use; the lists are in order of preference.

#include <QString>
#include <QStringList>

namespace Orvex {

class Locations {
public:
    enum Kind {
        InstalledData = 0,
        UserData = 1,
        CommonData = 2,
        CommonDoc = 3,
        Log = 4,
        Binaries = 6,
        Help = 7,
        Config = 8,
        NN = 9,
        Cache = 10,
        Textures = 11,
        Presets = 12,
        UserPresets = 13,
        OrvexPresets = 14,
        FramePacks = 15,
        OrvexActions = 16,
        UserActions = 17,
        Plugins = 18,
        ColorProfiles = 19,
        UserDesktop = 20,
        UserDocuments = 21,
        UserDownloads = 22,
    };

    static QString name(int kind); // empty beyond the table
    // Throws std::runtime_error "Unexpected Location::dirs() parameter: <name>" for an unknown kind.
    static QStringList dirs(int kind);
    // The first directory of the kind, created when missing. Throws std::logic_error for the
    // read-only kinds InstalledData and Binaries.
    static QString writable(int kind);
    // The first directory of the kind holding `fileName`, joined with it; empty when none has it.
    static QString find(int kind, const QString& fileName);

    static bool isSandboxed();
    static QString applicationRoot(); // empty unless sandboxed
    static QString prefix();          // "/usr", or inside the sandbox

    // "a" + "b" with one separator; the right part alone when the left is empty.
    static QString join(const QString& left, const QString& right);
};

} // namespace Orvex
