#include "gui/FollowDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <set>

#include "app/Following.h"

namespace brenvik {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

FollowDialog::FollowDialog(std::filesystem::path home, QWidget* parent)
    : QDialog(parent),
      home_(std::move(home)),
      table_(new QTableWidget(0, 6, this)),
      unfollow_(new QPushButton("取消关注", this)),
      updateAll_(new QPushButton("全部更新", this)) {
    setWindowTitle("关注列表");
    table_->setObjectName("followTable");
    unfollow_->setObjectName("unfollowButton");
    updateAll_->setObjectName("updateAllButton");
    table_->setHorizontalHeaderLabels({"关注对象", "网站", "保存路径", "上次更新", "相册", "图片"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* close = new QPushButton("关闭", this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(unfollow_);
    buttons->addStretch();
    buttons->addWidget(updateAll_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(760, 360);
    connect(unfollow_, &QPushButton::clicked, this, &FollowDialog::UnfollowSelected);
    connect(updateAll_, &QPushButton::clicked, this, &QDialog::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    Fill();
}

void FollowDialog::Fill() {
    std::vector<FollowedOwner> owners;
    LoadFollowList(home_, owners);
    table_->setRowCount(static_cast<int>(owners.size()));
    for (int row = 0; row < static_cast<int>(owners.size()); ++row) {
        const FollowedOwner& o = owners[static_cast<std::size_t>(row)];
        const QStringList cells = {Q(o.owner),
                                   Q(SiteDisplayName(o.site)),
                                   Q(o.savePath),
                                   Q(LastUpdateText(o.lastUpdate)),
                                   QString::number(o.albums),
                                   QString::number(o.photos)};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            // The owner's cell keeps its site, so that unfollowing takes that one only.
            item->setData(Qt::UserRole, o.site);
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
    unfollow_->setEnabled(!owners.empty());
    updateAll_->setEnabled(!owners.empty());
}

void FollowDialog::UnfollowSelected() {
    std::set<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.insert(index.row());
    }
    for (const int row : rows) {
        const QTableWidgetItem* owner = table_->item(row, 0);
        if (!UnfollowOwner(home_, owner->text().toStdString(), owner->data(Qt::UserRole).toInt()) &&
            showMessage) {
            showMessage(Q(FollowListUnwritable(home_)));
        }
    }
    Fill();
}

}  // namespace brenvik
