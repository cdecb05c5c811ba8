// An editable combo box that keeps its own history: typing shows the entries that
// contain the typed text in a list under the box, the arrow shows them all.
//
// The list never takes the keyboard or the mouse from the rest of the window: the edit
// field keeps the focus, so every typed key lands in the box (Up/Down, Return and Escape
// steer the list), and a click elsewhere reaches its target at once.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QStringList>

namespace brenvik {

class HistoryComboBox : public QComboBox {
    Q_OBJECT
  public:
    explicit HistoryComboBox(QWidget* parent = nullptr);
    ~HistoryComboBox() override;

    void SetEntries(const QStringList& entries);
    const QStringList& Entries() const { return entries_; }
    QString Text() const;
    void SetText(const QString& text);

    // The history list under the box, and what it offers right now.
    QListWidget* SuggestionList() const { return list_; }
    bool SuggestionsShown() const;
    QStringList Suggestions() const;

    void showPopup() override;
    void hidePopup() override;

  signals:
    // The user typed or picked an entry.
    void textEditedOrPicked(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnTextEdited(const QString& text);
    void ShowSuggestions(const QString& filter);
    void PlaceList();
    void Pick(int row);
    bool SteerList(int key);
    static QString Shown(const QString& entry);

    QStringList entries_;
    QPointer<QListWidget> list_;
};

}  // namespace brenvik
