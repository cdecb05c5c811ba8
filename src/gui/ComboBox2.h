// An editable combo box that keeps its own history and fills its drop-down on demand:
// typing shows the entries that contain the typed text, the arrow shows them all.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace brenvik {

class CComboBox2 : public QComboBox {
    Q_OBJECT
  public:
    explicit CComboBox2(QWidget* parent = nullptr);

    void SetEntries(const QStringList& entries);
    const QStringList& Entries() const { return entries_; }
    QString Text() const;
    void SetText(const QString& text);

    void showPopup() override;
    void hidePopup() override;

  signals:
    // The user typed or picked an entry.
    void textEditedOrPicked(const QString& text);

  private:
    void OnTextEdited(const QString& text);
    void FillDropDown(const QString& filter);
    static QString Shown(const QString& entry);

    QStringList entries_;
    bool filling_ = false;
};

}  // namespace brenvik
