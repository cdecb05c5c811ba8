// Qt's own dialogs and buttons (message boxes, file dialogs, "OK", "Cancel") speak the
// window's language: the Chinese translations that Qt ships are loaded at start.
#pragma once

#include <QCoreApplication>
#include <QString>

class QFileDialog;
class QWidget;

namespace brenvik {

// Installs Qt's Chinese (zh_CN) translations into the application; false when Qt's
// base translation is not installed (the dialogs then stay in English).
bool InstallChineseTranslations(QCoreApplication& app);

// Qt's file list writes its dates in the system's format (English where no language is
// set) and has no Chinese word for a folder; the dialog shows both in Chinese. It uses
// Qt's own dialog, so that it looks and speaks the same on every desktop.
void SpeakChinese(QFileDialog& dialog);

// A folder or a file to save, chosen in such a dialog; empty when it is cancelled.
QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start = {});
QString ChooseSaveFile(QWidget* parent, const QString& filter, const QString& start = {});

}  // namespace brenvik
