#include "gui/HistoryComboBox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>

namespace brenvik {
namespace {

// An entry holding this marker is shown only up to it.
const QString kHiddenTailMarker = QStringLiteral("zvt?!oxff");

}  // namespace

HistoryComboBox::HistoryComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(10);
    // The combo box's own model stays empty: its popup would grab the keyboard.
    list_ = new QListWidget(window());
    list_->setObjectName("suggestions");
    list_->setFocusPolicy(Qt::NoFocus);
    list_->viewport()->setFocusPolicy(Qt::NoFocus);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setUniformItemSizes(true);
    list_->hide();
    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Pick(list_->row(item)); });
    connect(lineEdit(), &QLineEdit::textEdited, this, &HistoryComboBox::OnTextEdited);
    lineEdit()->installEventFilter(this);
}

HistoryComboBox::~HistoryComboBox() {
    delete list_.data();  // it lives in the top window, not in the box
}

QString HistoryComboBox::Shown(const QString& entry) {
    const qsizetype marker = entry.indexOf(kHiddenTailMarker);
    return marker < 0 ? entry : entry.left(marker);
}

void HistoryComboBox::SetEntries(const QStringList& entries) {
    entries_.clear();
    for (const QString& entry : entries) {
        if (!entry.isEmpty()) {
            entries_.append(entry);
        }
    }
}

QString HistoryComboBox::Text() const {
    return lineEdit()->text();
}

void HistoryComboBox::SetText(const QString& text) {
    lineEdit()->setText(text);
}

bool HistoryComboBox::SuggestionsShown() const {
    return list_->isVisible();
}

QStringList HistoryComboBox::Suggestions() const {
    QStringList shown;
    for (int i = 0; i < list_->count(); ++i) {
        shown << list_->item(i)->text();
    }
    return shown;
}

void HistoryComboBox::ShowSuggestions(const QString& filter) {
    list_->clear();
    const QString lowered = filter.toLower();
    for (const QString& entry : entries_) {
        if (filter.isEmpty() || entry.toLower().contains(lowered)) {
            list_->addItem(Shown(entry));
        }
    }
    list_->setCurrentRow(-1);  // nothing is picked until the user steers
    if (list_->count() == 0 || !isEnabled() || !isVisible()) {
        list_->hide();
        return;
    }
    PlaceList();
    list_->show();
    list_->raise();
}

// Under the box, as wide as it, inside the window it belongs to.
void HistoryComboBox::PlaceList() {
    QWidget* top = window();
    if (list_->parentWidget() != top) {
        list_->setParent(top);
    }
    const int rows = std::min(list_->count(), maxVisibleItems());
    const int rowHeight = std::max(list_->sizeHintForRow(0), fontMetrics().height());
    const int height = rows * rowHeight + 2 * list_->frameWidth();
    QPoint corner = mapTo(top, QPoint(0, this->height()));
    if (corner.y() + height > top->height()) {
        corner.setY(std::max(0, mapTo(top, QPoint(0, 0)).y() - height));
    }
    list_->setGeometry(corner.x(), corner.y(), width(), height);
}

void HistoryComboBox::Pick(int row) {
    if (row < 0 || row >= list_->count()) {
        return;
    }
    const QString picked = list_->item(row)->text();
    list_->hide();
    SetText(picked);
    emit textEditedOrPicked(picked);
}

// Keys that steer the list while it is shown; every other key is typing.
bool HistoryComboBox::SteerList(int key) {
    switch (key) {
        case Qt::Key_Down:
        case Qt::Key_Up: {
            const int step = key == Qt::Key_Down ? 1 : -1;
            const int row = std::clamp(list_->currentRow() + step, 0, list_->count() - 1);
            list_->setCurrentRow(row);
            return true;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (list_->currentRow() >= 0) {
                Pick(list_->currentRow());
                return true;
            }
            list_->hide();
            return false;
        case Qt::Key_Escape:
            list_->hide();
            return true;
        default:
            return false;
    }
}

// The box keeps the focus itself and hands typed keys to its edit field; the list is
// steered before that.
void HistoryComboBox::keyPressEvent(QKeyEvent* event) {
    if (list_->isVisible() && SteerList(event->key())) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void HistoryComboBox::focusOutEvent(QFocusEvent* event) {
    list_->hide();
    QComboBox::focusOutEvent(event);
}

bool HistoryComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit()) {
        if (event->type() == QEvent::KeyPress && list_->isVisible()) {
            return SteerList(static_cast<QKeyEvent*>(event)->key());
        }
        if (event->type() == QEvent::FocusOut) {
            list_->hide();
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void HistoryComboBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        list_->hide();
    }
    QComboBox::changeEvent(event);
}

void HistoryComboBox::hideEvent(QHideEvent* event) {
    list_->hide();
    QComboBox::hideEvent(event);
}

void HistoryComboBox::OnTextEdited(const QString& text) {
    if (text.isEmpty()) {
        list_->hide();
    } else {
        ShowSuggestions(text);
    }
    emit textEditedOrPicked(text);
}

// The arrow: every entry, or closes the list when it is already shown.
void HistoryComboBox::showPopup() {
    if (list_->isVisible()) {
        list_->hide();
        return;
    }
    lineEdit()->setFocus(Qt::PopupFocusReason);
    ShowSuggestions(QString());
}

void HistoryComboBox::hidePopup() {
    list_->hide();
    QComboBox::hidePopup();
}

}  // namespace brenvik
