// The 关注列表 dialog: the followed owners with their last update and counts, to unfollow
// them or to update them all.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>
#include <functional>

namespace brenvik {

class FollowDialog : public QDialog {
    Q_OBJECT
  public:
    // Accepted means 全部更新 was chosen.
    FollowDialog(std::filesystem::path home, QWidget* parent);

    std::function<void(const QString&)> showMessage;

  private:
    void Fill();
    void UnfollowSelected();

    std::filesystem::path home_;
    QTableWidget* table_;
    QPushButton* unfollow_;
    QPushButton* updateAll_;
};

}  // namespace brenvik
