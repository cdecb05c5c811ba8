#include "gui/AlbumTable.h"

#include <QCollator>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <array>

#include "net/PageFetcher.h"
#include "session/AlbumRows.h"
#include "session/Session.h"

namespace brenvik {
namespace {

struct Column {
    const char* header;
    int width;
};
constexpr Column kListColumns[] = {{"序号", 50},  {"名称", 575}, {"数量", 50},
                                   {"备注", 100}, {"", 0},       {"", 0}};

constexpr int kNameColumn = 1;
constexpr int kCountColumn = 2;
constexpr int kTextColumns = 4;
// The key a list cell sorts by; an empty key is an unknown count.
constexpr int kSortRole = Qt::UserRole + 1;

// Chinese names sort by their reading (pinyin), digits inside names as numbers.
const QCollator& ChineseOrder() {
    static const QCollator collator = [] {
        QCollator chinese(QLocale(QLocale::Chinese, QLocale::China));
        chinese.setNumericMode(true);
        return chinese;
    }();
    return collator;
}

// The keys of one album's list cells, column by column.
std::array<QVariant, kTextColumns> SortKeys(const AlbumRecord& album, const QString& access) {
    const QVariant count =
        album.photoCount == -1
            ? QVariant()
            : QVariant(static_cast<qint64>(static_cast<std::uint32_t>(album.photoCount)));
    return {QVariant(album.position), QString::fromStdString(album.name), count, access};
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// What a cell shows for a cover that could not be fetched or read: a grey frame with a
// sketched picture and a word, light enough not to look like a real cover.
const QPixmap& MissingCover() {
    static const QPixmap picture = [] {
        QPixmap pixmap(kThumbWidth, kThumbHeight);
        pixmap.fill(QColor(0xEE, 0xEE, 0xEE));
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0xB0, 0xB0, 0xB0), 2));
        painter.drawRect(QRect(1, 1, kThumbWidth - 3, kThumbHeight - 3));
        painter.drawPolyline(QPolygon(
            {QPoint(30, 70), QPoint(48, 48), QPoint(62, 62), QPoint(72, 54), QPoint(86, 70)}));
        painter.drawEllipse(QPoint(76, 38), 6, 6);
        painter.setPen(QColor(0x98, 0x98, 0x98));
        painter.drawText(QRect(0, 80, kThumbWidth, 24), Qt::AlignCenter, "无封面");
        return pixmap;
    }();
    return picture;
}

}  // namespace

bool AlbumCell::operator<(const QTableWidgetItem& other) const {
    const QVariant mine = data(kSortRole);
    const QVariant theirs = other.data(kSortRole);
    if (mine.isValid() != theirs.isValid()) {
        // An unknown count stays last whichever way the column is sorted.
        const QTableWidget* table = tableWidget();
        const bool descending =
            table && table->horizontalHeader()->sortIndicatorOrder() == Qt::DescendingOrder;
        return descending ? !mine.isValid() : !theirs.isValid();
    }
    if (mine.typeId() == QMetaType::QString) {
        return ChineseOrder().compare(mine.toString(), theirs.toString()) < 0;
    }
    return mine.toLongLong() < theirs.toLongLong();
}

AlbumTable::AlbumTable(Session& session, QWidget* parent)
    : QTableWidget(parent), session_(session) {
    setObjectName("albumTable");
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A header click sorts; it must not select the whole column (every album, in rows mode).
    QHeaderView* header = horizontalHeader();
    disconnect(header, &QHeaderView::sectionPressed, this, nullptr);
    disconnect(header, &QHeaderView::sectionEntered, this, nullptr);
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, this, &AlbumTable::SortBy);
    listDelegate_ = itemDelegate();
    thumbDelegate_ = new ThumbnailDelegate(this);
    verticalHeader()->hide();
    connect(this, &AlbumTable::thumbnailReady, this, &AlbumTable::OnThumbnailReady,
            Qt::QueuedConnection);
    coverThread_ = std::thread([this] { CoverLoop(); });
    Reset(false);
}

AlbumTable::~AlbumTable() {
    {
        std::lock_guard lock(queueMutex_);
        closing_ = true;
        passState_ = kPassStopAsked;
    }
    queueCv_.notify_all();
    coverThread_.join();
}

void ThumbnailDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->decorationAlignment = Qt::AlignHCenter | Qt::AlignTop;
    option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
    option->features &= ~QStyleOptionViewItem::WrapText;
    option->textElideMode = Qt::ElideRight;
    // Covers are kept at their small size; a wider cell shows them larger.
    const QSize kept = option->icon.availableSizes().value(0);
    if (!option->icon.isNull() && kept.isValid() && kept.width() < option->decorationSize.width()) {
        option->icon = QIcon(option->icon.pixmap(kept).scaled(
            option->decorationSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

int AlbumTable::ThumbRowHeight() const {
    const int cover = thumbnailMode_ ? iconSize().height() : kThumbHeight;
    return std::max(kThumbRowHeight, cover + fontMetrics().height() + 2 * kCaptionGap);
}

void AlbumTable::FitCovers() {
    const int column =
        std::max(kThumbWidth + 2 * kCoverMargin, viewport()->width() / kThumbColumns);
    const int width = column - 2 * kCoverMargin;
    setIconSize(QSize(width, width * kThumbHeight / kThumbWidth));
    const int height = ThumbRowHeight();
    for (int r = 0; r < rowCount(); ++r) {
        setRowHeight(r, height);
    }
}

void AlbumTable::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    if (thumbnailMode_) {
        FitCovers();
    }
}

void AlbumTable::Reset(bool thumbnailMode) {
    thumbnailMode_ = thumbnailMode;
    setUpdatesEnabled(false);
    clear();
    setRowCount(0);
    ClearSort();
    setColumnCount(kThumbColumns);
    QHeaderView* header = horizontalHeader();
    if (thumbnailMode_) {
        header->hide();
        setItemDelegate(thumbDelegate_);
        setWordWrap(false);
        setSelectionBehavior(QAbstractItemView::SelectItems);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Every column holds covers, including the two that list mode hides; the six
        // share the width.
        header->setMinimumSectionSize(kThumbWidth + 2 * kCoverMargin);
        for (int c = 0; c < kThumbColumns; ++c) {
            header->setSectionResizeMode(c, QHeaderView::Stretch);
            setColumnHidden(c, false);
        }
        FitCovers();
    } else {
        header->show();
        header->setMinimumSectionSize(-1);
        setItemDelegate(listDelegate_);
        setWordWrap(true);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (int c = 0; c < kThumbColumns; ++c) {
            setHorizontalHeaderItem(
                c, new QTableWidgetItem(QString::fromUtf8(kListColumns[c].header)));
            // The name column takes whatever width the others leave.
            header->setSectionResizeMode(
                c, c == kNameColumn ? QHeaderView::Stretch : QHeaderView::Interactive);
            setColumnWidth(c, kListColumns[c].width);
            setColumnHidden(c, kListColumns[c].width == 0);
        }
    }
    setUpdatesEnabled(true);
    emit tableReset();
    emit filterShown(QString());
}

void AlbumTable::ClearSort() {
    sortColumn_ = -1;
    sortOrder_ = Qt::AscendingOrder;
    horizontalHeader()->setSortIndicatorShown(false);
}

void AlbumTable::SortBy(int column) {
    if (thumbnailMode_ || column < 0 || column >= kTextColumns) {
        return;
    }
    const bool again = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder;
    sortOrder_ = again ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    horizontalHeader()->setSortIndicator(column, sortOrder_);
    horizontalHeader()->setSortIndicatorShown(true);
    sortItems(column, sortOrder_);
}

void AlbumTable::KeepSorted() {
    if (sortColumn_ >= 0 && !thumbnailMode_) {
        sortItems(sortColumn_, sortOrder_);
    }
}

// Reached by the keyboard, the table shows where it is: the first row becomes the
// current one (without selecting it), and the current row wears the focus frame.
void AlbumTable::focusInEvent(QFocusEvent* event) {
    if (!currentIndex().isValid() && rowCount() > 0) {
        selectionModel()->setCurrentIndex(model()->index(0, 0), QItemSelectionModel::NoUpdate);
    }
    QTableWidget::focusInEvent(event);
}

void AlbumTable::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    const QModelIndex current = currentIndex();
    if (thumbnailMode_ || !hasFocus() || !current.isValid()) {
        return;
    }
    const QRect row = visualRect(model()->index(current.row(), 0))
                          .united(visualRect(model()->index(current.row(), kTextColumns - 1)));
    QPainter painter(viewport());
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = row.adjusted(0, 0, -1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void AlbumTable::ShowAlbum(int index) {
    const auto album = session_.albums.At(static_cast<std::size_t>(index));
    if (!album) {
        return;
    }
    if (thumbnailMode_) {
        ShowThumbCell(*album);
    } else {
        ShowListRow(*album);
    }
}

void AlbumTable::ShowListRow(const AlbumRecord& album) {
    if (!filter_.isEmpty() && !Q(album.name).contains(filter_, Qt::CaseSensitive)) {
        return;
    }
    const int row = rowCount();
    insertRow(row);
    const AlbumRowTexts texts = AlbumRow(album, row + 1);
    const QString cells[] = {Q(texts.number), Q(texts.name), Q(texts.count), Q(texts.access)};
    const auto keys = SortKeys(album, cells[3]);
    for (int c = 0; c < kTextColumns; ++c) {
        auto* item = new AlbumCell(cells[c]);
        item->setData(Qt::UserRole, album.position);
        item->setData(kSortRole, keys[static_cast<std::size_t>(c)]);
        if (c == kCountColumn) {
            // Digits line up on the right in a proportional font.
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        setItem(row, c, item);
    }
}

void AlbumTable::ShowThumbCell(const AlbumRecord& album) {
    const int index = album.position;
    const int row = index / kThumbColumns;
    const int column = index % kThumbColumns;
    if (column == 0) {
        insertRow(rowCount());
        setRowHeight(rowCount() - 1, ThumbRowHeight());
    }
    const QString caption = QString("%1.%2").arg(index + 1).arg(Q(album.name));
    auto* item = new QTableWidgetItem(caption);
    item->setData(Qt::UserRole, index);
    item->setToolTip(caption);  // the cell may show it cut
    if (album.thumbSlot >= 0 && album.thumbSlot < thumbnails_.size()) {
        item->setIcon(QIcon(thumbnails_[album.thumbSlot]));
    } else {
        QueueCover(index);
    }
    setItem(row, column, item);
}

void AlbumTable::ShowAll() {
    const int count = static_cast<int>(session_.albums.Size());
    for (int i = 0; i < count; ++i) {
        ShowAlbum(i);
    }
    filter_.clear();
}

void AlbumTable::SetFilterOnce(const QString& filter) {
    filter_ = filter;
    Reset(false);
    ShowAll();
    emit filterShown(
        QString("筛选: %1 (显示 %2/%3)").arg(filter).arg(rowCount()).arg(session_.albums.Size()));
}

std::vector<int> AlbumTable::SelectedAlbums() const {
    std::vector<int> albums;
    for (int r = 0; r < rowCount(); ++r) {
        for (int c = 0; c < columnCount(); ++c) {
            const QTableWidgetItem* cell = item(r, c);
            if (!cell || !cell->isSelected()) {
                continue;
            }
            albums.push_back(cell->data(Qt::UserRole).toInt());
            if (!thumbnailMode_) {
                break;  // one value per row
            }
        }
    }
    return albums;
}

TableRows AlbumTable::Texts() const {
    TableRows rows;
    std::vector<std::string> header;
    for (int c = 0; c < columnCount(); ++c) {
        const QTableWidgetItem* h = horizontalHeaderItem(c);
        header.push_back(h && !thumbnailMode_ ? h->text().toStdString() : "");
    }
    rows.push_back(header);
    for (int r = 0; r < rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < columnCount(); ++c) {
            const QTableWidgetItem* cell = item(r, c);
            row.push_back(cell ? cell->text().toStdString() : "");
        }
        rows.push_back(row);
    }
    return rows;
}

std::filesystem::path AlbumTable::ThumbnailFile(int index) const {
    return session_.BaseFolder() / "tmp" / (std::to_string(index) + ".jpg");
}

void AlbumTable::StartThumbnailPass() {
    passState_ = kPassRunning;
    Reset(true);
    ShowAll();
    std::lock_guard lock(queueMutex_);
    if (coversDue_ == 0) {
        passState_ = kPassIdle;
        emit passFinished();
    }
}

void AlbumTable::QueueCover(int index) {
    {
        std::lock_guard lock(queueMutex_);
        coverQueue_.push_back(index);
        ++coversDue_;
    }
    queueCv_.notify_one();
}

void AlbumTable::ClearThumbnails() {
    {
        std::lock_guard lock(queueMutex_);
        coverQueue_.clear();
        coversDue_ = 0;
        ++generation_;
        passState_ = kPassIdle;
    }
    thumbnails_.clear();
    thumbnails_.squeeze();
}

// Covers are fetched off the window's thread; each finished one comes back queued.
void AlbumTable::CoverLoop() {
    for (;;) {
        int index = 0;
        int generation = 0;
        {
            std::unique_lock lock(queueMutex_);
            queueCv_.wait(lock, [this] { return closing_ || !coverQueue_.empty(); });
            if (closing_) {
                return;
            }
            index = coverQueue_.front();
            coverQueue_.pop_front();
            generation = generation_;
        }
        QImage image;
        const auto album = session_.albums.At(static_cast<std::size_t>(index));
        if (album && passState_ != kPassStopAsked && !album->coverUrl.empty()) {
            const auto file = ThumbnailFile(index);
            std::error_code ec;
            std::filesystem::create_directories(file.parent_path(), ec);
            URLRequest request(album->coverUrl, file, 20000);
            request.rejectErrorStatus = true;
            FetchResponse response;
            if (Fetch(request, response, kFetchWorker) &&
                image.load(QString::fromStdString(file.string()))) {
                image = image.scaled(kThumbWidth, kThumbHeight, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
            }
        }
        emit thumbnailReady(index, image, generation);
    }
}

void AlbumTable::OnThumbnailReady(int index, const QImage& image, int generation) {
    bool current = false;
    {
        std::lock_guard lock(queueMutex_);
        current = generation == generation_;
    }
    // A cover of an earlier listing would land on another album of this one.
    if (current && image.isNull() && thumbnailMode_) {
        if (QTableWidgetItem* cell = item(index / kThumbColumns, index % kThumbColumns)) {
            cell->setIcon(QIcon(MissingCover()));
        }
    }
    if (current && !image.isNull()) {
        thumbnails_.append(QPixmap::fromImage(image));
        const int slot = static_cast<int>(thumbnails_.size()) - 1;
        session_.albums.SetThumbSlot(static_cast<std::size_t>(index), slot);
        if (thumbnailMode_) {
            if (QTableWidgetItem* cell = item(index / kThumbColumns, index % kThumbColumns)) {
                cell->setIcon(QIcon(thumbnails_[slot]));
            }
        }
    }
    std::lock_guard lock(queueMutex_);
    if (current) {
        --coversDue_;
    }
    // The pass ends with its last cover, not when the last one leaves the queue.
    if (coversDue_ == 0 && passState_ != kPassIdle) {
        passState_ = kPassIdle;
        emit passFinished();
    }
}

}  // namespace brenvik
