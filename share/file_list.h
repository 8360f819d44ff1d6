#pragma once

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

} // namespace pandrel
