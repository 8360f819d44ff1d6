#include "progress_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "dlengine_files.h"
#include "runtime/convert.h"

namespace pandrel::get {
namespace {

constexpr int kBarCells = 20;
constexpr int kDefaultColumns = 80;

// Columns of one character; a broken UTF-8 sequence (names reach here checked, so this is only
// a guard) and a character without a width take one.
int CodePointWidth(long point) {
    const int width = point < 0 ? -1 : ::wcwidth(static_cast<wchar_t>(point));
    return width < 0 ? 1 : width;
}

double Fraction(std::int64_t done, std::int64_t total) {
    return total > 0 ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0)
                     : 0.0;
}

std::optional<double> SecondsLeft(std::int64_t done, std::int64_t total, double speed) {
    if (total <= 0 || speed <= 0 || done > total) {
        return std::nullopt;
    }
    return static_cast<double>(total - done) / speed;
}

Text PercentOf(std::int64_t done, std::int64_t total) {
    return total > 0 ? FormatNumber(Fraction(done, total) * 100.0, 1) + "%" : "--%";
}

Text Bar(double fraction) {
    const int full = static_cast<int>(std::floor(fraction * kBarCells));
    return "[" + Text(static_cast<std::size_t>(full), '#') +
           Text(static_cast<std::size_t>(kBarCells - full), '-') + "]";
}

Text AmountOf(std::int64_t done, std::int64_t total) {
    return ByteText(static_cast<double>(done)) + "/" +
           (total > 0 ? ByteText(static_cast<double>(total)) : Text("?"));
}

// The amounts are those of the running files: the sizes of the others are not known before
// they start, so the time left is shown only once none waits.
Text TotalLine(const RunTotals& totals) {
    const auto left = totals.waitingFiles == 0
                          ? SecondsLeft(totals.done, totals.total, totals.speed)
                          : std::nullopt;
    return "合计：已结束 " + ToText(totals.endedFiles) + "/" + ToText(totals.chosenFiles) +
           " 个文件  进行中 " + AmountOf(totals.done, totals.total) + "  " +
           ByteText(totals.speed) + "/s  剩余 " + DurationText(left);
}

class Terminal final : public ProgressView {
public:
    explicit Terminal(std::FILE* out) : m_out(out) {}

    void Note(const Text& line) override {
        Erase();
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
    }

    void Show(const std::vector<FileProgress>& running, const RunTotals& totals) override {
        // One column is kept free: a line that fills the last column makes some terminals wrap,
        // and the cursor would no longer climb back to the first line.
        const int columns = std::max(Columns() - 1, 10);
        std::vector<Text> lines;
        for (const FileProgress& file : running) {
            lines.push_back(FileLine(file, columns));
        }
        lines.push_back(FitToWidth(TotalLine(totals), columns));
        Erase();
        for (const Text& line : lines) {
            std::fprintf(m_out, "%s\n", line.c_str());
        }
        m_lines = static_cast<int>(lines.size());
        std::fflush(m_out);
    }

    void Clear() override {
        Erase();
        std::fflush(m_out);
    }

private:
    int Columns() const {
        winsize size{};
        return ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col
                                                                               : kDefaultColumns;
    }

    // The name takes what the figures leave; the bar goes first when even that is too little.
    static Text FileLine(const FileProgress& file, int columns) {
        const Text figures = "  " + PercentOf(file.done, file.total) + "  " + ByteText(file.speed) +
                             "/s  剩余 " +
                             DurationText(SecondsLeft(file.done, file.total, file.speed));
        const Text bar = "  " + Bar(Fraction(file.done, file.total));
        const Text head = ToText(file.number) + " ";
        const int fixed = DisplayWidth(head) + DisplayWidth(figures);
        const bool withBar = columns - fixed - DisplayWidth(bar) >= 12;
        const int room = columns - fixed - (withBar ? DisplayWidth(bar) : 0);
        return FitToWidth(head + FitToWidth(file.name, std::max(room, 1)) + (withBar ? bar : "") +
                              figures,
                          columns);
    }

    // Takes the cursor back to the first drawn line and clears from there down.
    void Erase() {
        if (m_lines > 0) {
            std::fprintf(m_out, "\x1b[%dA\r\x1b[J", m_lines);
            m_lines = 0;
        }
    }

    std::FILE* m_out;
    int m_lines = 0;
};

class Plain final : public ProgressView {
public:
    Plain(std::FILE* out, std::chrono::seconds every)
        : m_out(out), m_every(every), m_next(std::chrono::steady_clock::now() + every) {}

    void Note(const Text& line) override {
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
    }

    void Show(const std::vector<FileProgress>&, const RunTotals& totals) override {
        const auto now = std::chrono::steady_clock::now();
        if (now < m_next) {
            return;
        }
        m_next = now + m_every;
        Note(TotalLine(totals));
    }

    void Clear() override {}

private:
    std::FILE* m_out;
    std::chrono::seconds m_every;
    std::chrono::steady_clock::time_point m_next;
};

class Silent final : public ProgressView {
public:
    void Note(const Text&) override {}
    void Show(const std::vector<FileProgress>&, const RunTotals&) override {}
    void Clear() override {}
};

} // namespace

void ProgressView::Warn(const Text& line) {
    Clear();
    std::fprintf(stderr, "pandrel-get：%s\n", line.c_str());
}

std::unique_ptr<ProgressView> TerminalProgress(std::FILE* out) {
    return std::make_unique<Terminal>(out);
}

std::unique_ptr<ProgressView> PlainProgress(std::FILE* out, std::chrono::seconds every) {
    return std::make_unique<Plain>(out, every);
}

std::unique_ptr<ProgressView> SilentProgress() {
    return std::make_unique<Silent>();
}

Text ByteText(double bytes) {
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
        bytes /= 1024;
        ++unit;
    }
    return (unit == 0 ? ToText(static_cast<std::int64_t>(bytes)) : FormatNumber(bytes, 2)) + " " +
           kUnits[unit];
}

Text DurationText(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds) || *seconds >= 100.0 * 3600) {
        return "--:--";
    }
    const auto whole = static_cast<std::int64_t>(std::ceil(*seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    }
    return text;
}

int DisplayWidth(const Text& text) {
    int width = 0;
    for (std::size_t at = 0; at < text.size();) {
        width += CodePointWidth(dlengine::NextCodePoint(text, at));
    }
    return width;
}

Text FitToWidth(const Text& text, int columns) {
    int width = 0;
    std::size_t at = 0;
    for (std::size_t next = 0; at < text.size(); at = next) {
        width += CodePointWidth(dlengine::NextCodePoint(text, next));
        if (width > columns) {
            break;
        }
    }
    return text.substr(0, at);
}

} // namespace pandrel::get
