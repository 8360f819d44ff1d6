#pragma once

#include <cstdint>
#include <variant>

#include "runtime/value_types.h"

namespace pandrel {

// The control properties the program reads or writes. Which control serves which property is
// the window's to say when it registers (control_registry.h); any other pair is a mistake in
// the program: it is reported on stderr, a read gives the empty value of the property's kind
// and a write changes nothing.
//
//   Width        integer  the window's width (left, top and height stay)
//   Content      text     an edit box's text; a multi-line box shows a line longer than
//                         65,536 characters in pieces of that length, one per line
//   Caption      text     a label's text, repainted at once and shown as plain text (never
//                         markup) on one line, each line break as a space; read back
//                         exactly as set
//   Checked      truth    a check box
//   Interval     integer  a timer's period in milliseconds: 0 or below stops the timer; a
//                         positive value different from the current one (0 while stopped)
//                         restarts it with that period; writing the current value again
//                         changes nothing, so the period already running is not restarted
//   SelectedRow  integer  a list's first selected row, 0-based, -1 for none
//
// Every call may come from any thread; off the UI thread it runs there and blocks the caller.
enum class Property { Width, Content, Caption, Checked, Interval, SelectedRow };

using PropertyValue = std::variant<std::int32_t, bool, Text>;

// One property of one control that the program may read, write or both.
struct PropertyUse {
    Text control;
    Property property;
    bool readable;
    bool writable;
};

// The dynamic property of a label whose accessible name is this prefix followed by its caption
// (as shown, on one line): a screen reader then hears what the line is and what it says now.
inline constexpr const char* kAccessibleNamePrefixProperty = "accessibleNamePrefix";

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
