#include "gui/AlbumTable.h"

#include <QHeaderView>
#include <QImage>

#include <algorithm>

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

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

AlbumTable::AlbumTable(Session& session, QWidget* parent)
    : QTableWidget(parent), session_(session) {
    setObjectName("albumTable");
    setEditTriggers(QAbstractItemView::NoEditTriggers);
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
}

int AlbumTable::ThumbRowHeight() const {
    return std::max(kThumbRowHeight, kThumbHeight + fontMetrics().height() + 2 * kCaptionGap);
}

void AlbumTable::Reset(bool thumbnailMode) {
    thumbnailMode_ = thumbnailMode;
    setUpdatesEnabled(false);
    clear();
    setRowCount(0);
    setColumnCount(kThumbColumns);
    QHeaderView* header = horizontalHeader();
    if (thumbnailMode_) {
        header->hide();
        setItemDelegate(thumbDelegate_);
        setWordWrap(false);
        setSelectionBehavior(QAbstractItemView::SelectItems);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setIconSize(QSize(kThumbWidth, kThumbHeight));
        // Every column holds covers, including the two that list mode hides.
        for (int c = 0; c < kThumbColumns; ++c) {
            header->setSectionResizeMode(c, QHeaderView::Interactive);
            setColumnHidden(c, false);
            setColumnWidth(c, kThumbWidth + 2 * 4);
        }
    } else {
        header->show();
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
    for (int c = 0; c < 4; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setData(Qt::UserRole, album.position);
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
