#pragma once

namespace brennick {

// Makes Qt's own texts (the Yes, No and OK buttons, the file and folder dialogs) Japanese like the
// companion's, whatever the user's locale, from Qt's translation in the system (Debian's
// qt6-translations-l10n). Call once the application object exists. False when that translation
// is not installed: those texts then stay English.
bool InstallQtTranslation();

} // namespace brennick
