#pragma once

namespace pandrel {

// Qt's own texts (an edit box's Cut/Copy/Paste menu, a message box's OK button) in Simplified
// Chinese, as the rest of the window: installs Qt's catalogue from the folder Qt's
// translations are installed in (Debian's qt6-translations-l10n). Call once the application
// object exists; a second call changes nothing. False, and Qt's English stays, when the
// catalogue is not installed.
bool LoadQtChineseTranslations();

} // namespace pandrel
