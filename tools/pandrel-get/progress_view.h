#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel::get {

// One running download as the last poll saw it.
struct FileProgress {
    std::int32_t number = 0;
    Text name; // as shown (ShownName)
    std::int64_t done = 0;
    std::int64_t total = 0; // 0 while unknown
    double speed = 0;       // bytes per second
};

// The whole run as the last poll saw it.
struct RunTotals {
    std::int32_t endedFiles = 0;
    std::int32_t waitingFiles = 0; // not started yet
    std::int32_t chosenFiles = 0;
    std::int64_t done = 0;  // of the running files
    std::int64_t total = 0; // of the running files whose size is known
    double speed = 0;
};

// Where a run reports. Lines of Note stay; Show draws the state of the running files.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void Note(const Text& line) = 0;
    virtual void Show(const std::vector<FileProgress>& running, const RunTotals& totals) = 0;
    // Removes whatever Show drew that should not stay.
    virtual void Clear() = 0;

    // A complaint, on standard error. What Show drew goes first: on a terminal both streams
    // share the screen, and a line written into the drawing would spoil the next redraw.
    void Warn(const Text& line);
};

// On a terminal: the running files and a total line, redrawn in place within the terminal's
// width. `out` is that terminal's stream.
std::unique_ptr<ProgressView> TerminalProgress(std::FILE* out);

// Into a log or a pipe: the notes, and one total line every `every`.
std::unique_ptr<ProgressView> PlainProgress(std::FILE* out, std::chrono::seconds every);

// Shows nothing (--quiet).
std::unique_ptr<ProgressView> SilentProgress();

// "1.50 MB", "512 KB", "0 B": an amount of bytes as people read it.
Text ByteText(double bytes);
// "1:05:09", "4:07", "--:--" when unknown.
Text DurationText(std::optional<double> seconds);
// How many columns of a terminal the UTF-8 text takes (wide characters take two).
int DisplayWidth(const Text& text);
// The longest beginning of the text, in whole characters, that takes at most `columns`.
Text FitToWidth(const Text& text, int columns);

} // namespace pandrel::get
