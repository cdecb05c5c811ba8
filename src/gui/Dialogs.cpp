#include "gui/Dialogs.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
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

// A number field that leaves a value outside its range as typed, so that 确定 can name
// it, instead of quietly putting back the last good value when the focus leaves.
class NumberField : public QSpinBox {
  public:
    using QSpinBox::QSpinBox;

  protected:
    void focusOutEvent(QFocusEvent* event) override {
        if (hasAcceptableInput()) {
            QSpinBox::focusOutEvent(event);
            return;
        }
        lineEdit()->event(event);
        QWidget::focusOutEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && !hasAcceptableInput()) {
            event->ignore();  // on to the dialog's 确定, which names the field
            return;
        }
        QSpinBox::keyPressEvent(event);
    }
};

struct NumberSetting {
    const char* label;
    const char* objectName;
    const char* name;  // the field as a message names it
    int minimum;
    int maximum;
    std::uint16_t DownloadParams::*value;
};

constexpr NumberSetting kNumberSettings[] = {
    {"线程数(1~15)：", "threadsField", "线程数", 1, 15, &DownloadParams::threads},
    {"超时(S, >=10)：", "timeoutField", "超时(秒)", 10, 65535, &DownloadParams::timeout},
    {"图片最小值(K)：", "minSizeField", "图片最小值(K)", 0, 65535, &DownloadParams::minK},
    {"图片最大值(K)：", "maxSizeField", "图片最大值(K)", 0, 65535, &DownloadParams::maxK},
};

// 确定 and 取消 at the bottom right; 确定 is the default button.
QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton("确定", QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton("取消", QDialogButtonBox::RejectRole);
    ok->setObjectName("okButton");
    cancel->setObjectName("cancelButton");
    ok->setDefault(true);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return buttons;
}

struct Aria2Text {
    const char* label;
    const char* objectName;
    const char* placeholder;
    std::string Aria2Daemon::*value;
};
const Aria2Text kAria2Texts[] = {
    {"RPC地址", "aria2RpcField", "http://127.0.0.1:6800/jsonrpc", &Aria2Daemon::address},
    {"RPC密钥", "aria2SecretField", "", &Aria2Daemon::secret},
    {"服务端目录", "aria2DirField", "aria2在另一台机器上时，它那边代表保存路径的目录",
     &Aria2Daemon::folder},
};

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
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const NumberSetting& setting = kNumberSettings[i];
        auto* field = new NumberField(group);
        field->setObjectName(setting.objectName);
        field->setRange(setting.minimum, setting.maximum);
        field->setValue(entry.*setting.value);
        field->setAlignment(Qt::AlignRight);
        form->addRow(setting.label, field);
        fields_[i] = field;
    }
    QDialogButtonBox* buttons = OkCancel(this);
    connect(buttons->findChild<QPushButton*>("okButton"), &QPushButton::clicked, this,
            &DownloadSettingsDialog::Accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

void DownloadSettingsDialog::Accept() {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const NumberSetting& setting = kNumberSettings[i];
        if (!fields_[i]->hasAcceptableInput()) {
            if (showMessage) {
                showMessage(QString("参数错误：%1应在%2~%3之间")
                                .arg(setting.name)
                                .arg(setting.minimum)
                                .arg(setting.maximum));
            }
            fields_[i]->setFocus();
            fields_[i]->selectAll();
            return;
        }
    }
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        entry_.*kNumberSettings[i].value = static_cast<std::uint16_t>(fields_[i]->value());
    }
    if (daemon_) {
        for (std::size_t i = 0; i < aria2Fields_.size(); ++i) {
            daemon_->*kAria2Texts[i].value = aria2Fields_[i]->text().trimmed().toStdString();
        }
        daemon_->wait = aria2Wait_->isChecked();
    }
    accept();
}

void DownloadSettingsDialog::EditAria2(Aria2Daemon& daemon) {
    daemon_ = &daemon;
    auto* group = new QGroupBox("交给aria2下载(留空则自己下载)", this);
    auto* form = new QFormLayout(group);
    for (std::size_t i = 0; i < aria2Fields_.size(); ++i) {
        const Aria2Text& text = kAria2Texts[i];
        auto* field = Field(text.objectName, group);
        field->setText(QString::fromStdString(daemon.*text.value));
        field->setPlaceholderText(text.placeholder);
        form->addRow(text.label, field);
        aria2Fields_[i] = field;
    }
    aria2Fields_[1]->setEchoMode(QLineEdit::Password);
    aria2Wait_ = new QCheckBox("等待下载完成(失败时改用备用地址，只记录完成的图片)", group);
    aria2Wait_->setObjectName("aria2WaitBox");
    aria2Wait_->setChecked(daemon.wait);
    form->addRow(aria2Wait_);
    auto* note = new QLabel("--connect-to、hosts.ini 与额外的CA证书对aria2不起作用", group);
    note->setWordWrap(true);
    form->addRow(note);
    static_cast<QVBoxLayout*>(layout())->insertWidget(1, group);
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
    QDialogButtonBox* buttons = OkCancel(this);
    connect(buttons->findChild<QPushButton*>("okButton"), &QPushButton::clicked, this,
            &FileNameSettingsDialog::Accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileGroup);
    layout->addWidget(folderGroup);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help);
    bottom->addStretch();
    bottom->addWidget(buttons);
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
