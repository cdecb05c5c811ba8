// Qt's own dialogs and buttons (message boxes, file dialogs, "OK", "Cancel") speak the
// window's language: the Chinese translations that Qt ships are loaded at start.
#pragma once

#include <QCoreApplication>

namespace brenvik {

// Installs Qt's Chinese (zh_CN) translations into the application; false when Qt's
// base translation is not installed (the dialogs then stay in English).
bool InstallChineseTranslations(QCoreApplication& app);

}  // namespace brenvik
