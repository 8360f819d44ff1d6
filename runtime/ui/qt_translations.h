#pragma once

#include <QString>

namespace pandrel {

// Qt's own texts (an edit box's Cut/Copy/Paste menu, a message box's OK button) in Simplified
// Chinese, as the rest of the window: installs Qt's catalogue from `folder`, by default the
// folder Qt's translations are installed in (Debian's qt6-translations-l10n). Call once the
// application object exists; once one is installed, a further call changes nothing. False,
// and Qt's English stays, when the folder holds no catalogue.
bool LoadQtChineseTranslations(const QString& folder);
bool LoadQtChineseTranslations();

} // namespace pandrel
