// The album table: one row per album (list mode) or six covers a row (thumbnail mode).
#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/TableText.h"
#include "session/Lists.h"

namespace brenvik {

class Session;

inline constexpr int kThumbColumns = 6;
inline constexpr int kThumbWidth = 113;
inline constexpr int kThumbHeight = 120;
inline constexpr int kThumbRowHeight = 130;
// Room under the cover for its one-line caption.
inline constexpr int kCaptionGap = 4;
// Room on each side of a cover in its cell.
inline constexpr int kCoverMargin = 4;

enum PassState : int { kPassIdle = 0, kPassRunning = 1, kPassStopAsked = 2 };

// Thumbnail cells: the cover on top, the caption on one line under it, cut with "…" to
// the cell's width.
class ThumbnailDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// A list-mode cell that sorts by the key it carries rather than by its text: names in
// Chinese order, counts as numbers with unknown counts last whichever way the column runs.
class AlbumCell : public QTableWidgetItem {
  public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override;
};

class AlbumTable : public QTableWidget {
    Q_OBJECT
  public:
    AlbumTable(Session& session, QWidget* parent = nullptr);
    ~AlbumTable() override;

    bool ThumbnailMode() const { return thumbnailMode_; }
    // Empties the table and lays it out for the mode.
    void Reset(bool thumbnailMode);
    // Adds the row (or cell) of album i.
    void ShowAlbum(int index);
    // Shows every album again (thumbnail pass, or once after a filter).
    void ShowAll();
    void SetFilterOnce(const QString& filter);
    // A header click: sorts by that column, the second click on it the other way round.
    void SortBy(int column);
    // Rows added since the last sort take their places.
    void KeepSorted();
    // Album indexes of the selected rows (row order) or cells (row by row, left to right).
    std::vector<int> SelectedAlbums() const;
    // The texts of the table with a header row first, for search and export.
    TableRows Texts() const;

    // The thumbnail pass: covers of every album in the background.
    void StartThumbnailPass();
    int PassState() const { return passState_; }
    void StopThumbnailPass() { passState_ = kPassStopAsked; }
    // A new listing: the covers of the old one are dropped, and so are covers on their way.
    void ClearThumbnails();
    int ThumbnailCount() const { return static_cast<int>(thumbnails_.size()); }
    // A thumbnail row: the cover with its caption line under it.
    int ThumbRowHeight() const;

  signals:
    void thumbnailReady(int index, QImage image, int generation);
    void passFinished();
    // The table was emptied and laid out again; nothing in it is selected.
    void tableReset();
    // What the table shows of a filter ("筛选: …"), empty when it shows every album.
    void filterShown(const QString& caption);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void ShowListRow(const AlbumRecord& album);
    void ClearSort();
    // Thumbnail mode: covers as wide as six columns of the table's width allow.
    void FitCovers();
    void ShowThumbCell(const AlbumRecord& album);
    void QueueCover(int index);
    void CoverLoop();
    void OnThumbnailReady(int index, const QImage& image, int generation);
    std::filesystem::path ThumbnailFile(int index) const;

    Session& session_;
    bool thumbnailMode_ = false;
    QString filter_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QVector<QPixmap> thumbnails_;

    std::atomic<int> passState_{kPassIdle};
    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<int> coverQueue_;
    int coversDue_ = 0;   // queued or being fetched; guarded by queueMutex_
    int generation_ = 0;  // guarded by queueMutex_; counts ClearThumbnails calls
    bool closing_ = false;
    QAbstractItemDelegate* listDelegate_ = nullptr;
    ThumbnailDelegate* thumbDelegate_ = nullptr;
    std::thread coverThread_;
};

}  // namespace brenvik
