#pragma once
// The command line of a benchmark that takes a few optional positive numbers: "--help" prints
// the usage and ends the program; anything else that is not a positive integer, or too many
// arguments, prints the usage to standard error and ends the program with status 2, instead of
// running a benchmark of nothing.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Text.h"

// `defaults` gives the number of arguments and the value of each one left out.
inline std::vector<int> PositiveArguments(int argc, char** argv, std::vector<int> defaults,
                                          const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", usage);
            std::exit(0);
        }
    }
    if (static_cast<size_t>(argc - 1) > defaults.size()) {
        std::fprintf(stderr, "too many arguments\n%s", usage);
        std::exit(2);
    }
    for (int i = 1; i < argc; ++i) {
        const std::optional<int32_t> value = TryParseInteger(argv[i]);
        if (!value || *value <= 0) {
            std::fprintf(stderr, "not a positive number: %s\n%s", argv[i], usage);
            std::exit(2);
        }
        defaults[static_cast<size_t>(i - 1)] = *value;
    }
    return defaults;
}
