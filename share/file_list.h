#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>

#include "runtime/program_state.h"

namespace pandrel {

// Appends one row to 文件列表框 for each of the first RecordRowCount rows of RecordText:
// number (1, 2, ...), name, size, link. The list is not cleared first. A count beyond the rows
// the listing has (upper-case tags, a "<tr>" without "</tr>") fills only the rows there are.
void FillFileList(ProgramState& state);

// "复制下载链接": takes the selected row's number, reads that row's link from RecordText, sets the
// current file, puts the link on the clipboard, shows "已复制" and sets 状态 to "已复制!".
// Nothing at all happens without a selection or when the number names no row of RecordText.
void CopySelectedLink(ProgramState& state);

// Message box results of ShowTimedMessage, before it subtracts 1.
inline constexpr int kMessageTimedOut = 32000;

// A modal message box that closes itself after timeoutMs (default 5000). `style` picks the
// buttons (low 4 bits: 0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No,
// 5 Retry/Cancel) and the icon (0x10 critical, 0x20 question, 0x30 warning, 0x40
// information). The caption defaults to "友情提醒", the owner to the program's first window.
// Gives the button's value less 1 (OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6),
// or kMessageTimedOut - 1 when the time ran out. UI thread only.
int ShowTimedMessage(const Text& text, int style = 0, std::optional<Text> caption = {},
                     QWidget* owner = nullptr, std::optional<int> timeoutMs = {});

// Walks the program's own top-level windows (menus and tooltips aside) until one qualifies or
// timeLimitMs passes (a year when not given or -1), handling pending events between windows.
// The first window examined decides: with no title and no class wanted it is the answer;
// otherwise it is the answer when its title contains `title` and its class name contains
// `className` (each tested only when given), else the result is nullptr. A process id other
// than this program's has no windows here and gives nullptr at once.
QWidget* FindProcessWindow(std::int64_t processId, const Text& title = {},
                           const Text& className = {}, std::optional<int> timeLimitMs = {},
                           bool visibleOnly = false);

} // namespace pandrel
