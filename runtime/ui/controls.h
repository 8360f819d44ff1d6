#pragma once

#include <cstdint>
#include <variant>

#include "runtime/value_types.h"

namespace pandrel {

// The control properties the program reads or writes, and no others:
//   main window ("主窗口")          Width        integer   write  (left, top and height stay)
//   编辑框1                         Content      text      read, write
//   编辑框2, 编辑框3                Content      text      write
//   状态                            Caption      text      read, write  (repainted at once;
//                                                              shown on one line, each line
//                                                              break as a space, read back
//                                                              exactly as set)
//   选择框1                         Checked      truth     read
//   时钟1                           Interval     integer   write  (milliseconds, see below)
//   文件列表框, 列表框_任务信息     SelectedRow  integer   read   (0-based, -1 for none)
// Any other pair is a mistake in the program: it is reported on stderr, a read gives the
// empty value of the property's kind and a write changes nothing.
//
// The timer interval: 0 or below stops the timer; a positive value different from the
// current one (0 while stopped) restarts it with that period; writing the current value
// again changes nothing, so the period already running is not restarted.
//
// Every call may come from any thread; off the UI thread it runs there and blocks the caller.
enum class Property { Width, Content, Caption, Checked, Interval, SelectedRow };

using PropertyValue = std::variant<std::int32_t, bool, Text>;

PropertyValue GetProperty(const Text& control, Property property);
void SetProperty(const Text& control, Property property, const PropertyValue& value);
inline void SetProperty(const Text& control, Property property, const char* value) {
    SetProperty(control, property, PropertyValue(Text(value)));
}

// Typed reads: the empty value of the kind when the property holds another kind.
Text GetTextProperty(const Text& control, Property property);
std::int32_t GetIntegerProperty(const Text& control, Property property);
bool GetTruthProperty(const Text& control, Property property);

} // namespace pandrel
