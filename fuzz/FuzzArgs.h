#pragma once
// Argument vectors from fuzz input: the input split at zero bytes, at most 64 elements, behind
// the program's name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> fuzzArguments(const char* program, const uint8_t* data, size_t size) {
    std::vector<std::string> args{program};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    if (!current.empty() && args.size() < 64) args.push_back(current);
    return args;
}
