#include "gui/Dialogs.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/TableText.h"
#include "gui/AlbumTable.h"

namespace brenvik {
namespace {

constexpr int kRuleChars = 38;

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QLineEdit* Field(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

}  // namespace

FindBar::FindBar(Mode mode, AlbumTable* grid, QWidget* parent)
    : QDialog(parent, Qt::Popup | Qt::FramelessWindowHint), mode_(mode), grid_(grid) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setObjectName(mode == Mode::Find ? "findPanel" : "filterDialog");
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel("相册搜索", this), 0, 0, 1, 2);
    auto* close = Button("×", "closeButton", this);
    close->setFixedWidth(24);
    layout->addWidget(close, 0, 2);
    layout->addWidget(new QLabel("关键字:", this), 1, 0);
    keyword_ = Field("keywordField", this);
    layout->addWidget(keyword_, 1, 1, 1, 2);
    matchCase_ = new QCheckBox("区分大小写", this);
    matchCase_->setObjectName("matchCaseBox");
    wholeCell_ = new QCheckBox("全字匹配", this);
    wholeCell_->setObjectName("wholeCellBox");
    layout->addWidget(matchCase_, 2, 0);
    layout->addWidget(wholeCell_, 2, 1);
    auto* previous = Button("上一个", "previousButton", this);
    auto* next = Button(mode == Mode::Find ? "下一个" : "筛选", "nextButton", this);
    next->setDefault(true);
    layout->addWidget(previous, 3, 0);
    layout->addWidget(next, 3, 1);
    const bool find = mode == Mode::Find;
    matchCase_->setVisible(find);
    wholeCell_->setVisible(find);
    previous->setVisible(find);
    if (find) {
        connect(next, &QPushButton::clicked, this, [this] { Search(true); });
        connect(previous, &QPushButton::clicked, this, [this] { Search(false); });
        connect(close, &QPushButton::clicked, this, &QWidget::hide);
    } else {
        connect(next, &QPushButton::clicked, this, &QDialog::accept);
        connect(close, &QPushButton::clicked, this, &QDialog::reject);
    }
}

void FindBar::Search(bool forward) {
    const QString keyword = Keyword();
    if (keyword.isEmpty()) {
        if (showMessage) {
            showMessage("关键字不能为空");
        }
        return;
    }
    const TableRows rows = grid_->Texts();
    const int focus = grid_->currentRow() < 0 ? 0 : grid_->currentRow() + 1;  // rows are 1-based
    const int found = FindTableRow(rows, focus, keyword.toStdString(),
                                   {matchCase_->isChecked(), wholeCell_->isChecked(), forward});
    if (found > 0) {
        grid_->clearSelection();
        grid_->setCurrentCell(found - 1, 0);
        grid_->selectRow(found - 1);
    }
}

// Dragging the panel by its background.
void FindBar::mousePressEvent(QMouseEvent* event) {
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void FindBar::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
}

DownloadSettingsDialog::DownloadSettingsDialog(DownloadParams& entry, QWidget* parent)
    : QDialog(parent), entry_(entry) {
    setWindowTitle("设置");
    setObjectName("dlgDownSet");
    auto* group = new QGroupBox("下载参数设置", this);
    auto* form = new QFormLayout(group);
    threads_ = Field("threadsField", group);
    timeout_ = Field("timeoutField", group);
    minK_ = Field("minSizeField", group);
    maxK_ = Field("maxSizeField", group);
    form->addRow("线程数(1~15)：", threads_);
    form->addRow("超时(S, >=10)：", timeout_);
    form->addRow("图片最小值(K)：", minK_);
    form->addRow("图片最大值(K)：", maxK_);
    threads_->setText(QString::number(entry.threads));
    timeout_->setText(QString::number(entry.timeout));
    minK_->setText(QString::number(entry.minK));
    maxK_->setText(QString::number(entry.maxK));
    auto* ok = Button("确 定", "okButton", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &DownloadSettingsDialog::Accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

void DownloadSettingsDialog::Accept() {
    const auto number = [](QLineEdit* field) { return field->text().trimmed().toUInt(); };
    const unsigned threads = number(threads_);
    const unsigned timeout = number(timeout_);
    if (threads == 0 || threads > 15 || timeout < 10 || timeout > 65535 || number(minK_) > 65535 ||
        number(maxK_) > 65535) {
        if (showMessage) {
            showMessage("参数错误");
        }
        return;
    }
    entry_ = {static_cast<std::uint16_t>(number(minK_)), static_cast<std::uint16_t>(number(maxK_)),
              static_cast<std::uint16_t>(threads), static_cast<std::uint16_t>(timeout)};
    accept();
}

FileNameSettingsDialog::FileNameSettingsDialog(SaveOptions& entry, QWidget* parent)
    : QDialog(parent), entry_(entry) {
    setWindowTitle("设置");
    setObjectName("dlgSaveSet");
    const char* names[6] = {"filePrefixField", "fileSuffixField",   "replaceFromField",
                            "replaceToField",  "folderPrefixField", "folderSuffixField"};
    const std::string* values[6] = {&entry.filePrefix, &entry.fileSuffix,   &entry.replaceFrom,
                                    &entry.replaceTo,  &entry.folderPrefix, &entry.folderSuffix};
    for (int i = 0; i < 6; ++i) {
        texts_[i] = Field(names[i], this);
        texts_[i]->setText(QString::fromStdString(*values[i]));
    }
    auto* fileGroup = new QGroupBox("文件名", this);
    auto* fileLayout = new QGridLayout(fileGroup);
    const char* namingTexts[3] = {"描述", "序号", "网址"};
    const char* namingNames[3] = {"namingDescriptionButton", "namingNumberButton",
                                  "namingAddressButton"};
    auto* namingGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        naming_[i] = new QRadioButton(namingTexts[i], fileGroup);
        naming_[i]->setObjectName(namingNames[i]);
        namingGroup->addButton(naming_[i]);
        fileLayout->addWidget(naming_[i], 0, 1 + i);
    }
    fileLayout->addWidget(new QLabel("前缀", fileGroup), 1, 0);
    fileLayout->addWidget(texts_[0], 1, 1, 1, 3);
    fileLayout->addWidget(new QLabel("后缀", fileGroup), 2, 0);
    fileLayout->addWidget(texts_[1], 2, 1, 1, 3);
    fileLayout->addWidget(texts_[2], 3, 0, 1, 2);
    fileLayout->addWidget(new QLabel("替换为", fileGroup), 3, 2);
    fileLayout->addWidget(texts_[3], 3, 3);
    auto* folderGroup = new QGroupBox("相册路径(相册名)", this);
    auto* folderLayout = new QGridLayout(folderGroup);
    auto* folderButtons = new QButtonGroup(this);
    const char* folderTexts[2] = {"相册名", "无"};
    const char* folderNames[2] = {"folderAlbumNameButton", "folderNoneButton"};
    for (int i = 0; i < 2; ++i) {
        folder_[i] = new QRadioButton(folderTexts[i], folderGroup);
        folder_[i]->setObjectName(folderNames[i]);
        folderButtons->addButton(folder_[i]);
        folderLayout->addWidget(folder_[i], 0, 1 + i);
    }
    folderLayout->addWidget(new QLabel("前缀", folderGroup), 1, 0);
    folderLayout->addWidget(texts_[4], 1, 1, 1, 2);
    folderLayout->addWidget(new QLabel("后缀", folderGroup), 2, 0);
    folderLayout->addWidget(texts_[5], 2, 1, 1, 2);
    naming_[std::min<int>(entry.namingMode, 2)]->setChecked(true);
    folder_[std::min<int>(entry.folderMode, 1)]->setChecked(true);

    auto* help = new QLabel("<a href=\"#\">前后缀说明</a>", this);
    help->setObjectName("affixHelpLink");
    connect(help, &QLabel::linkActivated, this, [this] {
        if (showMessage) {
            showMessage(HelpText());
        }
    });
    auto* ok = Button("确 定", "okButton", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &FileNameSettingsDialog::Accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileGroup);
    layout->addWidget(folderGroup);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help);
    bottom->addStretch();
    bottom->addWidget(ok);
    layout->addLayout(bottom);
}

void FileNameSettingsDialog::Accept() {
    std::string* values[6] = {&entry_.filePrefix, &entry_.fileSuffix,   &entry_.replaceFrom,
                              &entry_.replaceTo,  &entry_.folderPrefix, &entry_.folderSuffix};
    for (int i = 0; i < 6; ++i) {
        *values[i] = texts_[i]->text().left(kRuleChars).toStdString();
    }
    for (int i = 0; i < 3; ++i) {
        if (naming_[i]->isChecked()) {
            entry_.namingMode = static_cast<std::uint8_t>(i);
        }
    }
    entry_.folderMode = folder_[1]->isChecked() ? kFolderNone : kFolderAlbumName;
    accept();
}

QString FileNameSettingsDialog::HelpText() {
    return QString::fromUtf8(
        "设置前后缀，可以在图片本来的文件名前后加上指定的字符\n如：图片本来的文件名为：ravel."
        "jpg，如果前缀为空，后缀为_com\n则最后图片名将变为ravel_com.jpg\n"
        "如果前缀为www_，后缀为_com\n则最后图片名将变为www_ravel_com.jpg\n"
        "相册名那里前后缀一样\n同时，支持转义字符，当前后缀中含有转义字符时，程序会将转义字符转换为"
        "转义字符所表示的字符串\n"
        "转义字符如下（问号为英文的问号，相册名的转义字符只支持?1,?3,?9）：\n"
        "?1:相册名称\n?2:图片在相册中的序号\n?3:相册在列表中的序号(格式为：1,2,3...)\n?4:"
        "相册在列表中的序号(倒序)\n?5:相册创建时间(仅QQ群相册有效)\n?6:选中的相册数\n?7:"
        "总共的相册数(选中的+未选中的)\n?9:相册在列表中的序号(格式为：0001,0002,0003...)");
}

}  // namespace brenvik
