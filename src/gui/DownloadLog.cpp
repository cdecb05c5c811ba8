#include "gui/DownloadLog.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "download/JobOutcome.h"

namespace brenvik {

CDownloadLog::CDownloadLog(QWidget* parent) : QDialog(parent) {
    setObjectName("downloadLog");
    setWindowTitle("下载记录");
    setModal(false);
    resize(720, 360);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("logText");
    text_->setReadOnly(true);
    copyButton_ = new QPushButton("复制失败图片的地址", this);
    copyButton_->setObjectName("copyAddresses");
    copyButton_->setEnabled(false);
    auto* close = new QPushButton("关闭", this);
    close->setObjectName("closeLog");
    connect(copyButton_, &QPushButton::clicked, this, &CDownloadLog::CopyAddresses);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copyButton_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
}

void CDownloadLog::AddLine(const QString& line) {
    text_->appendPlainText(QDateTime::currentDateTime().toString("HH:mm:ss  ") + line);
}

void CDownloadLog::AddOutcome(const DownloadJobOutcome& outcome) {
    failedAddresses_.clear();
    for (const std::string& line : FailureLines(outcome)) {
        AddLine(QString::fromStdString(line));
    }
    for (const AlbumOutcome& album : outcome.albumOutcomes) {
        for (const FailedPhoto& photo : album.failures) {
            failedAddresses_.push_back(QString::fromStdString(photo.address));
        }
    }
    AddLine(QString::fromStdString(SummaryLine(outcome)));
    copyButton_->setEnabled(!failedAddresses_.isEmpty());
}

QString CDownloadLog::Text() const {
    return text_->toPlainText();
}

void CDownloadLog::CopyAddresses() {
    QApplication::clipboard()->setText(failedAddresses_.join('\n') + '\n');
}

}  // namespace brenvik
