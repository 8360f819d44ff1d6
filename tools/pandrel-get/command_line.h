#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel::get {

// A run of listing numbers, both ends included, first <= last.
struct NumberSpan {
    std::int32_t first = 0;
    std::int32_t last = 0;
};

enum class Verbosity { Quiet, Normal, Verbose };

// The command line, parsed once into typed values.
struct CommandLine {
    std::optional<Text> shareText; // absent: read standard input
    bool listOnly = false;
    std::optional<std::vector<NumberSpan>> only; // absent: every file
    Text dir = ".";
    std::optional<std::int32_t> connections; // absent: the engine's own choice
    std::int32_t jobs = 3;
    std::optional<Text> service; // absent: pandrel.ini, then the built-in default
    Verbosity verbosity = Verbosity::Normal;
    bool help = false;
    bool version = false;
};

// Connections per file the engine takes, and files at once this program runs.
inline constexpr std::int32_t kMaxConnections = 64;
inline constexpr std::int32_t kMaxJobs = 16;

// Parses argv. On a mistake gives nothing and the reason (a line in Chinese) in `error`.
std::optional<CommandLine> ParseCommandLine(int argc, char** argv, Text& error);

// "1,3-5" into spans; nothing for an empty list, a number below 1, a reversed range or
// anything that is not digits, "," and "-".
std::optional<std::vector<NumberSpan>> ParseNumberList(const Text& list);

// The --help text.
Text HelpText();

} // namespace pandrel::get
