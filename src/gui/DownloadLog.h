// The 下载记录 view: what the download jobs told without holding them up (a changed site,
// a host given up), how each job ended, and every photo that failed with its address and
// reason. Not modal: the window stays usable while it is open.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace brenvik {

struct DownloadJobOutcome;

class CDownloadLog : public QDialog {
    Q_OBJECT
  public:
    explicit CDownloadLog(QWidget* parent = nullptr);

    void AddLine(const QString& line);
    // The job's end: its failure lines, then its summary. The failed addresses of the
    // newest job are what the copy button copies.
    void AddOutcome(const DownloadJobOutcome& outcome);
    QString Text() const;
    const QStringList& FailedAddresses() const { return failedAddresses_; }

  private:
    void CopyAddresses();

    QPlainTextEdit* text_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QStringList failedAddresses_;
};

}  // namespace brenvik
