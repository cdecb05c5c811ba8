// The small dialogs of the window: album search and filter, the two settings dialogs.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <array>
#include <functional>

#include "settings/Settings.h"

namespace brenvik {

class AlbumTable;

// Search panel (find mode, modeless) or filter question (filter mode, modal).
class FindBar : public QDialog {
    Q_OBJECT
  public:
    enum class Mode { Find, Filter };
    FindBar(Mode mode, AlbumTable* grid, QWidget* parent);

    QString Keyword() const { return keyword_->text().trimmed(); }
    // Find mode: moves the selection to the next (or previous) matching row.
    void Search(bool forward);

    std::function<void(const QString&)> showMessage;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    Mode mode_;
    AlbumTable* grid_;
    QLineEdit* keyword_;
    QCheckBox* matchCase_;
    QCheckBox* wholeCell_;
    QPoint dragOffset_;
};

// Download parameters of one site.
class DownloadSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    DownloadSettingsDialog(DownloadParams& entry, QWidget* parent);
    void Accept();
    // Adds the fields of the aria2 daemon the downloads may go to; 确定 writes them back.
    void EditAria2(Aria2Daemon& daemon);

    std::function<void(const QString&)> showMessage;

  private:
    DownloadParams& entry_;
    Aria2Daemon* daemon_ = nullptr;
    // address, secret, daemon-side folder
    std::array<QLineEdit*, 3> aria2Fields_{};
    QCheckBox* aria2Wait_ = nullptr;
    // threads, time-out, minimum and maximum size, in the order of the form
    std::array<QSpinBox*, 4> fields_{};
};

// File-name and folder-name rules of one site.
class FileNameSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    FileNameSettingsDialog(SaveOptions& entry, QWidget* parent);
    void Accept();
    static QString HelpText();

    std::function<void(const QString&)> showMessage;

  private:
    SaveOptions& entry_;
    QLineEdit* texts_[6];
    QRadioButton* naming_[3];
    QRadioButton* folder_[2];
};

}  // namespace brenvik
