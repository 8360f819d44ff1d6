#pragma once

#include <vector>

#include "runtime/value_types.h"

namespace pandrel {

// Rows and cells of the window's lists, found by name and addressed by 0-based row and
// column. A cell holds text only. A row or column that does not exist is read as the empty
// text and ignored on write; no operation reports an error. Every call may come from any
// thread; off the UI thread it runs there and blocks the caller, so two threads changing the
// same cell leave the value of the later call.

int RowCount(const Text& list);

// Inserts one row at `position` (negative, or past the last row: at the end) with `caption`
// in column 0 and the other columns empty. Gives the new row's index, -1 when there is no
// such list.
int InsertRow(const Text& list, int position = -1, const Text& caption = {});

// Appends one row per member of `rows`, each holding its cells from column 0 on (cells past
// the list's last column are dropped, missing ones stay empty): the rows InsertRow and
// SetCellText would make one call at a time, made at once. Gives the first new row's index,
// -1 when there is no such list.
int AppendRows(const Text& list, const std::vector<std::vector<Text>>& rows);

Text GetCellText(const Text& list, int row, int column = 0);
// Setting a cell's text also drops the cell's own tooltip.
void SetCellText(const Text& list, int row, int column = 0, const Text& text = {});

// A cell's tooltip is its whole text (a long name cut off by its column reads in full), or
// a tooltip of its own, set here with the text in one step, until its text is next set. The
// cell's own tooltip is also what a screen reader gives as the cell's description.
void SetCellTextWithToolTip(const Text& list, int row, int column, const Text& text,
                            const Text& tip);
Text GetCellToolTip(const Text& list, int row, int column);

// Removes every row; the selection goes with them.
void DeleteAllRows(const Text& list);

// Scrolls the list so that the row is wholly visible.
void EnsureVisible(const Text& list, int row);

// The rows whose check box is ticked, in list order; none in a list without check boxes.
std::vector<int> CheckedRows(const Text& list);

// Ticks every row's check box, or clears them all when every row is already ticked.
void ToggleAllChecks(const Text& list);

// The dynamic property that gives a list's rows a check box in front.
inline constexpr const char* kRowCheckBoxesProperty = "rowCheckBoxes";

} // namespace pandrel
