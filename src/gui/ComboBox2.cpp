#include "gui/ComboBox2.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>

namespace brenvik {
namespace {

// An entry holding this marker is shown only up to it.
const QString kHiddenTailMarker = QStringLiteral("zvt?!oxff");

}  // namespace

CComboBox2::CComboBox2(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(10);
    connect(lineEdit(), &QLineEdit::textEdited, this, &CComboBox2::OnTextEdited);
    connect(this, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const QString picked = itemText(index);
        SetText(picked);
        emit textEditedOrPicked(picked);
    });
}

QString CComboBox2::Shown(const QString& entry) {
    const qsizetype marker = entry.indexOf(kHiddenTailMarker);
    return marker < 0 ? entry : entry.left(marker);
}

void CComboBox2::SetEntries(const QStringList& entries) {
    entries_.clear();
    for (const QString& entry : entries) {
        if (!entry.isEmpty()) {
            entries_.append(entry);
        }
    }
}

QString CComboBox2::Text() const {
    return lineEdit()->text();
}

void CComboBox2::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void CComboBox2::FillDropDown(const QString& filter) {
    const QString text = lineEdit()->text();
    const int cursor = lineEdit()->cursorPosition();
    filling_ = true;
    clear();
    const QString lowered = filter.toLower();
    for (const QString& entry : entries_) {
        if (filter.isEmpty() || entry.toLower().contains(lowered)) {
            addItem(Shown(entry));
        }
    }
    setCurrentIndex(-1);
    lineEdit()->setText(text);
    lineEdit()->setCursorPosition(cursor);
    filling_ = false;
}

void CComboBox2::OnTextEdited(const QString& text) {
    if (text.isEmpty()) {
        hidePopup();
    } else {
        FillDropDown(text);
        if (count() > 0) {
            QComboBox::showPopup();
            QApplication::setOverrideCursor(Qt::ArrowCursor);
            QApplication::restoreOverrideCursor();
        } else {
            hidePopup();
        }
        // Opening the list takes the focus; typing goes on in the edit field.
        lineEdit()->setFocus();
    }
    emit textEditedOrPicked(text);
}

void CComboBox2::showPopup() {
    if (!filling_) {
        FillDropDown(QString());
    }
    QComboBox::showPopup();
}

void CComboBox2::hidePopup() {
    QComboBox::hidePopup();
    if (!filling_) {
        const QString text = lineEdit()->text();
        filling_ = true;
        clear();
        lineEdit()->setText(text);
        filling_ = false;
    }
}

}  // namespace brenvik
