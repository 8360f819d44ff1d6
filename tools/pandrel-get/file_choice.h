#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "command_line.h"
#include "share/file_entry.h"

namespace pandrel::get {

// One file of the listing chosen for download, with its listing number (1-based).
struct ChosenFile {
    std::int32_t number = 0;
    FileEntry entry;
};

// The files `only` names (every file when absent), in listing order, each once. A number
// past the listing gives nothing and the reason in `error`.
std::optional<std::vector<ChosenFile>>
ChooseFiles(const std::vector<FileEntry>& rows, const std::optional<std::vector<NumberSpan>>& only,
            Text& error);

// The name as a line of output shows it: each control character as \xNN.
Text ShownName(const Text& name);

} // namespace pandrel::get
