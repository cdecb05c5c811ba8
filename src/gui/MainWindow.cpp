#include "gui/MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QStandardPaths>
#include <QStyleOptionFocusRect>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AddressRule.h"
#include "app/Following.h"
#include "app/ListJob.h"
#include "app/TableText.h"
#include "download/DownloadJob.h"
#include "gui/AlbumTable.h"
#include "gui/Chinese.h"
#include "gui/Dialogs.h"
#include "gui/DownloadLog.h"
#include "gui/FollowDialog.h"
#include "gui/HistoryComboBox.h"
#include "gui/Home.h"
#include "gui/LoginWindow.h"
#include "gui/SplashWindow.h"
#include "net/AtomicFile.h"
#include "net/BrowserCookies.h"
#include "net/CookieStore.h"
#include "net/Hosts.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

// The icon pictures live in this static library's resources, which a program linking it
// must load by name (and the macro cannot stand inside a namespace).
static void LoadIconResources() {
    Q_INIT_RESOURCE(Icons);
}

namespace brenvik {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

enum class Command {
    LoginMethod,
    Login,
    DownSet,
    SaveSet,
    Option,
    ShopOption,
    NoAction,
    About,
    Help,
    FileHelp,
    FirefoxCookies,
    ChromiumCookies,
    DownloadLog,
    Follow,
    FollowPicked,
    FollowList,
    UpdateAll,
};

struct MenuEntry {
    const char* menu;
    const char* name;  // the action's object name
    const char* text;
    Command command;
    std::uint16_t bit;
};

// Menu 129, in order.
const std::vector<MenuEntry>& MenuTable() {
    static const std::vector<MenuEntry> table = {
        {"登录", "loginMethodAction", "登录方式1（如果登录失败，可勾选该项后再登录）",
         Command::LoginMethod, 0},
        {"登录", "qzoneLoginAction", "QQ空间/QQ群", Command::Login, 0},
        {"登录", "tweiboLoginAction", "腾讯微博（登录时勾上下次自动登录）", Command::Login, 0},
        {"登录", "baiduLoginAction", "百度", Command::Login, 0},
        {"登录", "neteaseLoginAction", "网易", Command::Login, 0},
        {"登录", "renrenLoginAction", "人人", Command::Login, 0},
        {"登录", "yupooLoginAction", "又拍（下载器没弹窗提示你登录，就不要在这里登录）",
         Command::Login, 0},
        {"登录", "mokoLoginAction", "美空", Command::Login, 0},
        {"登录", "weiboLoginAction", "新浪微博（登录时勾上下次自动登录）", Command::Login, 0},
        {"登录", "taobaoLoginAction", "淘宝（强烈建议用小号登录）", Command::Login, 0},
        {"登录", "site56LoginAction", "56", Command::Login, 0},
        {"登录", "hupuLoginAction", "虎扑", Command::Login, 0},
        {"登录", "customLoginAction", "自定义登录", Command::Login, 0},
        {"登录", "firefoxCookiesAction", "从Firefox导入登录Cookie", Command::FirefoxCookies, 0},
        {"登录", "chromiumCookiesAction", "从Chromium导入登录Cookie", Command::ChromiumCookies, 0},
        {"设置", "downloadSettingsAction", "下载参数设置", Command::DownSet, 0},
        {"设置", "fileNameSettingsAction", "文件名设置", Command::SaveSet, 0},
        {"设置", "listOnlyAction", "只生成迅雷下载列表", Command::Option, kFlagListOnly},
        {"设置", "sourceNamesAction", "生成图片原始名文件", Command::Option, kFlagSourceNames},
        {"设置", "fixOrderAction", "修正图片顺序", Command::Option, kFlagFixOrder},
        {"设置", "fixFormatAction", "修正图片格式", Command::Option, kFlagFixFormat},
        {"设置", "skipDownloadedAction", "不下载以前下载过的图片", Command::Option,
         kFlagSkipDownloaded},
        {"设置", "openFolderAction", "下载完成后打开保存路径", Command::Option, kFlagOpenFolder},
        {"设置", "shopMainImagesAction", "只下载宝贝(商品)主图", Command::ShopOption,
         kFlagShopMainImages},
        {"设置", "shopDescriptionImagesAction", "只下载宝贝(商品)描述里的图片", Command::ShopOption,
         kFlagShopDescriptionImages},
        {"设置", "yupooLargeAction", "又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）",
         Command::Option, kFlagYupooLarge},
        {"下载文件", "importDownloadFileAction", "导入下载文件并开始下载", Command::NoAction, 0},
        {"下载文件", "exportDownloadFileAction", "导出下载文件", Command::NoAction, 0},
        {"下载文件", "exportAddressListAction", "导出迅雷下载列表", Command::NoAction, 0},
        {"下载文件", "downloadLogAction", "下载记录", Command::DownloadLog, 0},
        {"关注", "followOwnerAction", "关注当前对象（全部相册）", Command::Follow, 0},
        {"关注", "followPickedAction", "关注当前对象（选中的相册）", Command::FollowPicked, 0},
        {"关注", "followListAction", "关注列表", Command::FollowList, 0},
        {"关注", "updateAllAction", "全部更新", Command::UpdateAll, 0},
        {"帮助", "aboutAction", "版本信息", Command::About, 0},
        {"帮助", "helpAction", "使用说明", Command::Help, 0},
        {"帮助", "fileHelpAction", "文件处理", Command::FileHelp, 0},
    };
    return table;
}

// The menus' titles with their access keys (Alt+L opens 登录).
QString MenuTitle(const char* menu) {
    static const std::map<std::string_view, const char*> kTitles = {
        {"登录", "登录(&L)"}, {"设置", "设置(&S)"}, {"下载文件", "下载文件(&D)"},
        {"关注", "关注(&F)"}, {"帮助", "帮助(&H)"},
    };
    const auto found = kTitles.find(menu);
    return QString::fromUtf8(found == kTitles.end() ? menu : found->second);
}

// Words that make a message a problem report rather than news; such a box carries the
// warning icon.
bool TellsOfAProblem(const QString& text) {
    static const char* const kProblemWords[] = {"错误", "失败",   "没有获取到", "不能",   "无法",
                                                "有误", "不支持", "找不到",     "请输入", "请先"};
    for (const char* word : kProblemWords) {
        if (text.contains(QString::fromUtf8(word))) {
            return true;
        }
    }
    return false;
}

// A message box at least wide enough for its title and the title bar's buttons.
void WidenForTitle(QMessageBox& box) {
    constexpr int kTitleBarRoom = 160;
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) {
        return;
    }
    const int width =
        std::max(260, box.fontMetrics().horizontalAdvance(box.windowTitle()) + kTitleBarRoom);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

const MenuEntry* FindEntry(std::string_view name) {
    for (const MenuEntry& entry : MenuTable()) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

constexpr const char* kHelpText =
    "1、在左边选择网站，在地址栏输入QQ号、用户名或相册网址\n2、点“获取相册”列出相册\n"
    "3、选中要下载的相册（或勾选“全选”），点“下载”\n需要登录的网站请先在“登录”菜单里登录。";

constexpr const char* kFileHelpText =
    "“设置”菜单里的文件处理选项（每个网站各自保存）：\n"
    "修正图片格式：下载完成后按文件内容改正图片的扩展名（如把实为PNG的.jpg改为.png）\n"
    "修正图片顺序：按图片在相册中的顺序设置文件时间，按时间排序即为相册顺序\n"
    "生成图片原始名文件：另写一个文本文件，列出每张图片在网站上的描述或原始文件名\n"
    "不下载以前下载过的图片：相册文件夹里记下上次完整下载时的第一张图片，再次下载时读到它就停，"
    "只下载新加的图片\n"
    "只生成迅雷下载列表：不下载图片，只为每个相册写地址列表(.lst)和 aria2 列表(.aria2.txt，"
    "含文件名、Referer 和 Cookie)，交给下载工具\n"
    "下载完成后打开保存路径：下载结束后打开最后一个相册的文件夹";

// A link that looks like plain grey text while it is disabled. The keyboard reaches it
// as one tab stop (Qt's keyboard-accessible links make the label a second, invisible
// one), shows a focus frame there and follows it on Return or Space.
class LinkLabel : public QLabel {
  public:
    LinkLabel(const QString& text, QWidget* parent) : QLabel(parent), plain_(text) {
        setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        setFocusPolicy(Qt::TabFocus);
        ShowState();
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            emit linkActivated("#");
            return;
        }
        QLabel::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (hasFocus()) {
            QPainter painter(this);
            QStyleOptionFocusRect frame;
            frame.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
        }
    }
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::EnabledChange) {
            ShowState();
        }
    }

  private:
    void ShowState() {
        setText(isEnabled() ? QString("<a href=\"#\">%1</a>").arg(plain_) : plain_);
    }
    QString plain_;
};

QLabel* Link(const QString& text, const char* name, QWidget* parent) {
    auto* link = new LinkLabel(text, parent);
    link->setObjectName(name);
    return link;
}

// The program's icon: the theme's when installed, else the same pictures built in.
QIcon ProgramIcon() {
    LoadIconResources();
    QIcon builtIn;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        builtIn.addFile(QString(":/icons/brenvik-%1.png").arg(size), QSize(size, size));
    }
    return QIcon::fromTheme("brenvik", builtIn);
}

bool IsDigitsOnly(const QString& text) {
    for (const QChar c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

template <class F>
void MainWindow::CallBlocking(F f) {
    if (QThread::currentThread() == thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
    }
}

MainWindow::MainWindow(std::filesystem::path home, QWidget* parent)
    : QMainWindow(parent), session_(std::move(home), *this) {
    setObjectName("MainWindow");
    setWindowTitle("Brenvik 相册批量下载");
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    RegisterAllSites();
    BuildControls();
    ShowHomeWaitsIn(status1_);
    BuildMenu();
    resize(980, 680);

    const QString clip = QApplication::clipboard()->text().trimmed();
    if (!clip.isEmpty() && clip.size() < 200) {
        addressBox_->SetText(clip);
    }
    const std::string recentPath = session_.Settings().recent[kRecentSavePaths][0];
    savePathBox_->SetText(recentPath.empty() ? DefaultSavePath() : Q(recentPath));
    RefreshHistories();
}

MainWindow::~MainWindow() {
    RequestUpdateStop(session_);
    // Job threads may be waiting for this window; let them finish their queued calls.
    while ((listThread_.joinable() || downloadThread_.joinable()) && JobRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    JoinJobs();
    if (startupThread_.joinable()) {
        startupThread_.join();
    }
    // The table's cover thread reads the session, which goes before the child widgets.
    delete grid_;
    grid_ = nullptr;
}

QString MainWindow::DefaultSavePath() const {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        documents = QDir::homePath();
    }
    const QString path = QDir(documents).filePath("Brenvik");
    QDir().mkpath(path);
    return path + "/";
}

LoginWindow* MainWindow::ModelessLogin() const {
    return modelessLogin_;
}

void MainWindow::Register(const char* name, QWidget* widget) {
    widget->setObjectName(name);
    controls_[name] = widget;
}

QWidget* MainWindow::Control(const QString& name) const {
    const auto found = controls_.find(name);
    return found == controls_.end() ? nullptr : found->second;
}

QAction* MainWindow::MenuAction(const QString& name) const {
    const auto found = actions_.find(name);
    return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::BuildControls() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* statusRow = new QHBoxLayout;
    status1_ = new QLabel(central);
    status2_ = new QLabel(central);
    notice_ = new QLabel(QString::fromUtf8(kStartupNotice), central);
    Register("jobStatusLabel", status1_);
    Register("progressLabel", status2_);
    Register("noticeLabel", notice_);
    status1_->setMinimumWidth(220);
    statusRow->addWidget(status1_);
    statusRow->addWidget(status2_, 1);
    statusRow->addWidget(notice_);
    layout->addLayout(statusRow);

    auto* addressRow = new QHBoxLayout;
    siteBox_ = new QComboBox(central);
    Register("siteBox", siteBox_);
    subBox_ = new QComboBox(central);
    Register("subKindBox", subBox_);
    addressBox_ = new HistoryComboBox(central);
    Register("addressBox", addressBox_);
    getButton_ = new QPushButton("获取相册", central);
    Register("listButton", getButton_);
    downloadButton_ = new QPushButton("下载", central);
    Register("downloadButton", downloadButton_);
    downloadButton_->setEnabled(false);
    siteBox_->setMinimumWidth(140);
    addressRow->addWidget(siteBox_);
    addressRow->addWidget(subBox_);
    addressRow->addWidget(addressBox_, 1);
    addressRow->addWidget(getButton_);
    addressRow->addWidget(downloadButton_);
    layout->addLayout(addressRow);

    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(new QLabel("保存路径：", central));
    savePathBox_ = new HistoryComboBox(central);
    Register("savePathBox", savePathBox_);
    chooseButton_ = new QPushButton("设置", central);
    Register("chooseFolderButton", chooseButton_);
    openButton_ = new QPushButton("打开", central);
    Register("openFolderButton", openButton_);
    saveRow->addWidget(savePathBox_, 1);
    saveRow->addWidget(chooseButton_);
    saveRow->addWidget(openButton_);
    layout->addLayout(saveRow);

    frame_ = new QGroupBox("相册列表", central);
    Register("albumFrame", frame_);
    auto* frameLayout = new QVBoxLayout(frame_);
    auto* tools = new QHBoxLayout;
    exportLink_ = Link("导出", "exportLink", frame_);
    filterLink_ = Link("筛选", "filterLink", frame_);
    findLink_ = Link("查找", "findLink", frame_);
    Register("exportLink", exportLink_);
    Register("filterLink", filterLink_);
    Register("findLink", findLink_);
    thumbBox_ = new QCheckBox("预览图", frame_);
    selectAllBox_ = new QCheckBox("全选", frame_);
    Register("thumbnailBox", thumbBox_);
    Register("selectAllBox", selectAllBox_);
    auto* filterStatus = new QLabel(frame_);
    Register("filterStatusLabel", filterStatus);
    tools->addWidget(filterStatus);
    tools->addStretch();
    tools->addWidget(exportLink_);
    tools->addWidget(filterLink_);
    tools->addWidget(findLink_);
    tools->addWidget(thumbBox_);
    tools->addWidget(selectAllBox_);
    frameLayout->addLayout(tools);
    grid_ = new AlbumTable(session_, frame_);
    controls_["albumTable"] = grid_;
    frameLayout->addWidget(grid_);
    layout->addWidget(frame_, 1);
    auto* bottom = new QLabel(central);
    Register("bottomLabel", bottom);
    layout->addWidget(bottom);
    setCentralWidget(central);

    connect(getButton_, &QPushButton::clicked, this, &MainWindow::OnGetAlbums);
    connect(downloadButton_, &QPushButton::clicked, this, &MainWindow::OnDownload);
    connect(siteBox_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnSiteChanged);
    connect(addressBox_, &HistoryComboBox::textEditedOrPicked, this, &MainWindow::ApplyAddressRule);
    connect(chooseButton_, &QPushButton::clicked, this, [this] {
        const QString folder = ChooseFolder(this, "请选择文件保存目录：", CurrentSavePath());
        if (!folder.isEmpty()) {
            SetSavePath(folder, true);
        }
    });
    connect(openButton_, &QPushButton::clicked, this, [this] {
        const QString folder = session_.downloadBusy ? Q(session_.SavingFolder().string())
                                                     : savePathBox_->Text().trimmed();
        if (!folder.isEmpty()) {
            OpenFolder(folder.toStdString());
        }
    });
    connect(exportLink_, &QLabel::linkActivated, this, &MainWindow::OnExport);
    connect(filterLink_, &QLabel::linkActivated, this, &MainWindow::OnFilter);
    connect(findLink_, &QLabel::linkActivated, this, &MainWindow::OnFind);
    connect(thumbBox_, &QCheckBox::clicked, this, &MainWindow::OnThumbnailToggled);
    connect(selectAllBox_, &QCheckBox::clicked, this,
            [this](bool ticked) { ticked ? grid_->selectAll() : grid_->clearSelection(); });
    // An emptied table has nothing selected; a ticked box would say otherwise.
    connect(grid_, &AlbumTable::tableReset, selectAllBox_,
            [this] { selectAllBox_->setChecked(false); });
    connect(grid_, &AlbumTable::filterShown, filterStatus, &QLabel::setText);
    // Enter (either key) in the address box lists, as 获取相册 does.
    connect(addressBox_->lineEdit(), &QLineEdit::returnPressed, this, &MainWindow::OnGetAlbums);
}

void MainWindow::BuildMenu() {
    std::map<QString, QMenu*> menus;
    for (const MenuEntry& entry : MenuTable()) {
        const QString title = QString::fromUtf8(entry.menu);
        if (!menus.count(title)) {
            menus[title] = menuBar()->addMenu(MenuTitle(entry.menu));
            connect(menus[title], &QMenu::aboutToShow, this, &MainWindow::RefreshMenuChecks);
        }
        QAction* action = menus[title]->addAction(QString::fromUtf8(entry.text));
        action->setObjectName(entry.name);
        action->setCheckable(entry.command == Command::Option ||
                             entry.command == Command::ShopOption ||
                             entry.command == Command::LoginMethod);
        actions_[entry.name] = action;
        // The download-file items have nothing to do yet; they show so.
        action->setEnabled(entry.command != Command::NoAction);
        const std::string name = entry.name;
        connect(action, &QAction::triggered, this, [this, name] { OnMenuCommand(name); });
    }
    RefreshMenuChecks();
}

void MainWindow::StartUp(bool withSplash) {
    if (withSplash) {
        splash_ = new SplashWindow(
            this, "正在启动，请稍候...",
            SplashWindow::kFadeIn | SplashWindow::kFadeOut | SplashWindow::kCenterScreen);
        splash_->Show();
    }
    hide();
    // The start-up thread gathers the site list; the window takes over when it is done.
    startupThread_ = std::thread([this] {
        if (startupWork) {
            startupWork();
        }
        QStringList names;
        for (const SiteEntry& site : SiteTable()) {
            names << Q(std::string(site.displayName));
        }
        QMetaObject::invokeMethod(
            this, [this, names] { FinishStartUp(names); }, Qt::QueuedConnection);
    });
}

void MainWindow::FinishStartUp(const QStringList& siteNames) {
    siteBox_->blockSignals(true);
    siteBox_->clear();
    siteBox_->addItems(siteNames);
    siteBox_->setCurrentIndex(0);
    siteBox_->blockSignals(false);
    if (splash_) {
        splash_->Hide();
        splash_ = nullptr;
    }
    show();
    session_.ready = true;
    // The site's own step first: it resets the sub-selector, which the address rule then
    // sets (a Tencent Weibo address on the clipboard keeps its 2).
    OnSiteChanged(siteBox_->currentIndex());
    if (!startAddress_.isEmpty()) {
        addressBox_->SetText(startAddress_);
    }
    ApplyAddressRule(addressBox_->Text());
    session_.CheckHome();
    if (!startAddress_.isEmpty()) {
        OnGetAlbums();
    }
}

void MainWindow::ShowAbout() {
    QMessageBox box(this);
    box.setObjectName("aboutBox");
    box.setWindowTitle("关于 Brenvik");
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(QString("Brenvik 相册批量下载\n版本 %1").arg(BRENVIK_VERSION));
    box.addButton("确定", QMessageBox::AcceptRole);
    box.exec();
}

void MainWindow::OnSiteChanged(int index) {
    if (index < 0) {
        return;
    }
    session_.siteIndex = index;
    if (index == 0) {
        subBox_->blockSignals(true);
        subBox_->clear();
        subBox_->addItems({"QQ空间相册", "QQ群相册", "腾讯微博相册"});
        subBox_->setCurrentIndex(0);
        subBox_->blockSignals(false);
        subBox_->show();
    } else {
        subBox_->hide();
    }
    RefreshMenuChecks();
}

void MainWindow::ApplyAddressRule(const QString& text) {
    if (!session_.ready) {
        return;
    }
    const auto guess = SiteForAddress(text.toStdString());
    if (!guess) {
        if (text.contains("http://") || text.contains("https://")) {
            OnSiteChanged(siteBox_->currentIndex());
        }
        return;
    }
    siteBox_->setCurrentIndex(guess->site);
    OnSiteChanged(guess->site);
    if (guess->site == 0) {
        subBox_->setCurrentIndex(guess->subSelector);
    }
}

void MainWindow::RefreshMenuChecks() {
    const int site = siteBox_ ? std::max(0, siteBox_->currentIndex()) : 0;
    const std::uint16_t flags = session_.SaveRules(site).flags;
    for (const MenuEntry& entry : MenuTable()) {
        QAction* action = actions_[entry.name];
        if (entry.command == Command::Option || entry.command == Command::ShopOption) {
            action->setChecked((flags & entry.bit) != 0);
        }
    }
    actions_["loginMethodAction"]->setChecked(loginMethod1_);
    actions_["shopMainImagesAction"]->setEnabled(site == 11 || site == 16);
    actions_["shopDescriptionImagesAction"]->setEnabled(site == 11 || site == 16);
    actions_["yupooLargeAction"]->setEnabled(site == 7);
}

void MainWindow::RefreshHistories() {
    const SettingsArea settings = session_.Settings();
    QStringList addresses;
    QStringList paths;
    for (int i = 0; i < kRecentEntries; ++i) {
        addresses << Q(settings.recent[kRecentAddresses][static_cast<std::size_t>(i)]);
        paths << Q(settings.recent[kRecentSavePaths][static_cast<std::size_t>(i)]);
    }
    addressBox_->SetEntries(addresses);
    savePathBox_->SetEntries(paths);
}

// A login made in the user's own browser serves the fetcher as well as one made here.
void MainWindow::ImportBrowserLogin(const std::string& browser) {
    const BrowserImport result =
        ImportBrowserCookies(browser, CookieStore::Shared(), UserHomeFolder());
    ShowMessageNow(Q(BrowserImportReport(result)));
}

void MainWindow::OnMenuCommand(const std::string& name) {
    const MenuEntry* entry = FindEntry(name);
    if (!entry) {
        return;
    }
    const int site = std::max(0, siteBox_->currentIndex());
    switch (entry->command) {
        case Command::LoginMethod:
            loginMethod1_ = !loginMethod1_;
            break;
        case Command::Login:
            OpenLoginWindow(LoginAddress(entry->name), !loginMethod1_);
            break;
        case Command::DownSet:
            EditDownloadSettings(site);
            break;
        case Command::SaveSet:
            EditFileNameSettings(site);
            break;
        case Command::Option:
        case Command::ShopOption: {
            SaveOptions rules = session_.SaveRules(site);
            const bool wasOn = rules.flags & entry->bit;
            rules.flags ^= entry->bit;
            if (entry->command == Command::ShopOption && !wasOn) {
                // The two shop options exclude each other.
                rules.flags &= static_cast<std::uint16_t>(~(entry->bit == kFlagShopMainImages
                                                                ? kFlagShopDescriptionImages
                                                                : kFlagShopMainImages));
            }
            session_.SetSaveRules(site, rules);
            break;
        }
        case Command::NoAction:
            break;
        case Command::FirefoxCookies:
            ImportBrowserLogin("firefox");
            break;
        case Command::ChromiumCookies:
            ImportBrowserLogin("chromium");
            break;
        case Command::DownloadLog:
            DownloadLog()->show();
            DownloadLog()->raise();
            break;
        case Command::Follow:
        case Command::FollowPicked:
            FollowListed(entry->command == Command::FollowPicked);
            break;
        case Command::FollowList:
            ShowFollowList();
            break;
        case Command::UpdateAll:
            StartUpdate();
            break;
        case Command::About:
            ShowAbout();
            break;
        case Command::Help:
            ShowMessageNow(QString::fromUtf8(kHelpText));
            break;
        case Command::FileHelp:
            ShowMessageNow(QString::fromUtf8(kFileHelpText));
            break;
    }
    RefreshMenuChecks();
}

// 下载参数设置: the site's download parameters, and the aria2 daemon of the extended
// settings, which only changes when the person changed it.
void MainWindow::EditDownloadSettings(int site) {
    DownloadParams params = session_.DownParams(site);
    DownloadSettingsDialog dialog(params, this);
    dialog.showMessage = [this](const QString& text) { ShowMessageNow(text); };
    Aria2Daemon daemon = session_.Extended().aria2;
    dialog.EditAria2(daemon);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    session_.SetDownParams(site, params);
    if (daemon == session_.Extended().aria2) {
        return;
    }
    if (!WriteAria2Settings(session_.BaseFolder(), daemon)) {
        ShowMessageNow(Q((session_.BaseFolder() / kExtendedSettingsFile).string()));
    }
    session_.ReloadExtended();
}

void MainWindow::EditFileNameSettings(int site) {
    SaveOptions rules = session_.SaveRules(site);
    FileNameSettingsDialog dialog(rules, this);
    dialog.showMessage = [this](const QString& text) { ShowMessageNow(text); };
    if (dialog.exec() == QDialog::Accepted) {
        session_.SetSaveRules(site, rules);
    }
}

QString MainWindow::LoginAddress(std::string_view action) const {
    const auto base = [](const char* role) { return Q(SiteBase(role)); };
    if (action == "qzoneLoginAction") {
        // A typed QQ number opens that account's own space after the login.
        const QString typed = addressBox_->Text().trimmed();
        const bool number = !typed.isEmpty() && IsDigitsOnly(typed) && subBox_->currentIndex() == 0;
        return base("qzone.user") + (number ? "/" + typed : QString());
    }
    if (action == "mokoLoginAction") {
        QString home = base("moko.web");
        home.replace(":", "%3A");
        return base("moko.web") + "/jsps/common/login.jsp?tourl=" + home;
    }
    // The other login pages: a host role and a path.
    struct LoginPage {
        const char* action;
        const char* role;
        const char* path;
    };
    static constexpr LoginPage kPages[] = {
        {"tweiboLoginAction", "tweibo.web", ""},
        {"baiduLoginAction", "baidu.login", ""},
        {"neteaseLoginAction", "netease.login", ""},
        {"renrenLoginAction", "renren.main", ""},
        {"yupooLoginAction", "yupoo.web", "/account/login/"},
        {"weiboLoginAction", "weibo.home", "/login.php"},
        {"site56LoginAction", "56.web", "/login/"},
        {"hupuLoginAction", "hupu.passport", "/login"},
    };
    for (const LoginPage& page : kPages) {
        if (action == page.action) {
            return base(page.role) + page.path;
        }
    }
    if (action == "taobaoLoginAction") {
        return "https://" + Q(Host("taobao.login")) + "/member/login.jhtml";
    }
    return base("login.default");
}

void MainWindow::OpenLoginWindow(const QString& address, bool modal) {
    // A login command replaces the login window of an earlier command.
    if (modelessLogin_) {
        modelessLogin_->deleteLater();
        modelessLogin_ = nullptr;
    }
    if (modal) {
        RunModalLogin(address);
    } else {
        OpenModelessLogin(address);
    }
}

void MainWindow::OpenModelessLogin(const QString& address) {
    modelessLogin_ = new LoginWindow(address, this);
    modelessLogin_->setAttribute(Qt::WA_DeleteOnClose);
    modelessLogin_->show();
}

void MainWindow::RunModalLogin(const QString& address) {
    LoginWindow dialog(address, this);
    dialog.exec();
}

QString MainWindow::CurrentSavePath() const {
    const QString typed = savePathBox_->Text().trimmed();
    return typed.isEmpty() ? QString() : QDir(typed).absolutePath();
}

void MainWindow::SetSavePath(const QString& path, bool remember) {
    // Kept absolute: a remembered folder must not move with the working folder.
    QString folder = QDir(path.trimmed()).absolutePath();
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    savePathBox_->SetText(folder);
    if (remember && session_.AddRecent(kRecentSavePaths, folder.toStdString())) {
        RefreshHistories();
    }
}

void MainWindow::JoinJobs() {
    if (listThread_.joinable()) {
        listThread_.join();
    }
    if (downloadThread_.joinable()) {
        downloadThread_.join();
    }
}

void MainWindow::OnGetAlbums() {
    if (!session_.ready) {
        return;
    }
    if (session_.updateRunning) {
        RequestUpdateStop(session_);  // the buttons stop an update as they stop their jobs
        return;
    }
    if (session_.listingState != kListingIdle) {
        RequestListingStop(session_);
        return;
    }
    if (listThread_.joinable()) {
        listThread_.join();
    }
    const int site = std::max(0, siteBox_->currentIndex());
    {
        std::lock_guard lock(pendingMutex_);
        pendingRows_.clear();
    }
    grid_->ClearThumbnails();
    grid_->Reset(thumbBox_->isChecked());
    PrepareListing(session_, site);
    const std::string text = addressBox_->Text().toStdString();
    const int sub = site == 0 ? subBox_->currentIndex() : 0;
    listThread_ = std::thread([this, text, sub] { GetListFunc(session_, text, sub); });
}

void MainWindow::OnDownload() {
    if (session_.updateRunning) {
        RequestUpdateStop(session_);
        return;
    }
    if (session_.downloadState != kDownloadIdle) {
        RequestDownloadStop(session_);
        return;
    }
    if (downloadThread_.joinable()) {
        downloadThread_.join();
    }
    session_.downloadState = kDownloadRunning;
    const std::vector<int> selected = grid_->SelectedAlbums();
    // A folder typed by hand is remembered as a chosen one is.
    if (!savePathBox_->Text().trimmed().isEmpty()) {
        SetSavePath(savePathBox_->Text(), true);
    }
    const std::string savePath = savePathBox_->Text().toStdString();
    downloadThread_ =
        std::thread([this, selected, savePath] { RunDownloadJob(session_, selected, savePath); });
}

// Follows the owner of the table's albums, with the save path in the box; all albums, or
// the selected ones by name.
void MainWindow::FollowListed(bool pickedOnly) {
    const int site = session_.ListedSite();
    if (site < 0 || session_.albums.Size() == 0 || JobRunning()) {
        ShowMessageNow(kFollowNothingListed);
        return;
    }
    const QString savePath = CurrentSavePath();
    if (savePath.isEmpty()) {
        ShowMessageNow(kNoSavePath);
        return;
    }
    FollowedOwner owner;
    owner.site = site;
    owner.sub = site == 0 ? std::max(0, subBox_->currentIndex()) : 0;
    owner.owner = session_.AddressText();
    owner.savePath = savePath.toStdString();
    if (pickedOnly) {
        for (const int index : grid_->SelectedAlbums()) {
            if (const auto album = session_.albums.At(static_cast<std::size_t>(index))) {
                owner.picked.push_back(album->name);
            }
        }
        if (owner.picked.empty()) {
            ShowMessageNow(kNoAlbumSelected);
            return;
        }
    }
    const FollowAnswer answer = FollowOwner(session_.BaseFolder(), owner);
    if (answer == FollowAnswer::NotSaved) {
        ShowMessageNow(Q(FollowListUnwritable(session_.BaseFolder())));
        return;
    }
    status1_->setText(Q((answer == FollowAnswer::Added ? "已关注：" : "已更新关注：") +
                        owner.owner + "，保存到 " + owner.savePath));
}

void MainWindow::ShowFollowList() {
    FollowDialog dialog(session_.BaseFolder(), this);
    dialog.showMessage = [this](const QString& text) { ShowMessageNow(text); };
    if (dialog.exec() == QDialog::Accepted) {
        StartUpdate();
    }
}

// 全部更新: every followed owner is listed into the table in turn and its new photos
// downloaded, with the usual progress; the download button stops it.
void MainWindow::StartUpdate() {
    if (JobRunning()) {
        ShowMessageNow("请等当前的任务结束后再更新");
        return;
    }
    std::vector<FollowedOwner> followed;
    LoadFollowList(session_.BaseFolder(), followed);
    if (followed.empty()) {
        ShowMessageNow("还没有关注任何对象：获取相册列表后，在关注菜单里关注");
        return;
    }
    JoinJobs();
    session_.updateRunning = true;
    downloadThread_ = std::thread([this] {
        const UpdateOutcome outcome =
            RunUpdate(session_, {}, [this](const FollowedOwner&, std::size_t, std::size_t) {
                CallBlocking([this] {
                    {
                        std::lock_guard lock(pendingMutex_);
                        pendingRows_.clear();
                    }
                    grid_->ClearThumbnails();
                    grid_->Reset(thumbBox_->isChecked());
                });
            });
        FrontEnd& front = session_.Front();
        if (outcome.listUnwritable) {
            front.Notice(FollowListUnwritable(session_.BaseFolder()));
        }
        for (const OwnerUpdate& owner : outcome.owners) {
            front.Notice(OwnerUpdateLine(owner));
        }
        front.SetControlText(kControlJobStatus, UpdateTotalLine(outcome));
    });
}

void MainWindow::OnExport() {
    ShowMessageNow("此导出为导出表格内容，如需下载图片，请点击右上角的 下载 按钮。");
    const QString file =
        saveFileHook ? saveFileHook()
                     : ChooseSaveFile(this, "导出后，自行调整列宽(*.csv)", CurrentSavePath());
    if (file.isEmpty()) {
        return;
    }
    QString path = file;
    if (!path.endsWith(".csv", Qt::CaseInsensitive)) {
        path += ".csv";
    }
    WriteFileAtomically(path.toStdString(), TableCsv(grid_->Texts()));
}

void MainWindow::OnFind() {
    if (!findPanel_) {
        findPanel_ = new FindBar(FindBar::Mode::Find, grid_, this);
        findPanel_->showMessage = [this](const QString& text) { ShowMessageNow(text); };
    }
    findPanel_->show();
    findPanel_->move(geometry().center() - findPanel_->rect().center());
}

void MainWindow::OnFilter() {
    if (findPanel_) {
        findPanel_->hide();
    }
    FindBar dialog(FindBar::Mode::Filter, grid_, this);
    if (dialog.exec() == QDialog::Accepted) {
        grid_->SetFilterOnce(dialog.Keyword());
    }
}

void MainWindow::OnThumbnailToggled() {
    const bool ticked = thumbBox_->isChecked();
    if (grid_->PassState() != kPassIdle) {
        if (AskNow("模式转换未完成,是否中断?")) {
            grid_->StopThumbnailPass();
        }
        thumbBox_->setChecked(!ticked);
        return;
    }
    if (ticked && findPanel_) {
        findPanel_->hide();
    }
    filterLink_->setEnabled(!ticked);
    findLink_->setEnabled(!ticked);
    if (ticked) {
        grid_->StartThumbnailPass();
    } else {
        grid_->Reset(false);
        grid_->ShowAll();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) {
        return;
    }
    QString path = urls.first().toLocalFile();
    // A dropped file stands for its folder.
    if (path.lastIndexOf('.') > path.lastIndexOf('/')) {
        path = path.left(path.lastIndexOf('/'));
    }
    if (!path.isEmpty()) {
        SetSavePath(path, path.size() < 400);
    }
}

bool MainWindow::JobRunning() const {
    return session_.listingState != kListingIdle || session_.downloadState != kDownloadIdle ||
           session_.updateRunning;
}

bool MainWindow::AskStopAndQuit() {
    if (closeQuestionHook) {
        return closeQuestionHook();
    }
    QMessageBox box(QMessageBox::Question, kMessageCaption, "正在下载或获取相册，是否停止并退出？",
                    QMessageBox::NoButton, this);
    QPushButton* quit = box.addButton("停止下载并退出", QMessageBox::AcceptRole);
    box.addButton("继续", QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == quit;
}

// Closing during a job asks once. On quitting the jobs stop as the stop buttons stop
// them, and no box may appear after the window is gone: the job threads' messages and
// questions are answered at once from then on.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing_ && JobRunning() && !AskStopAndQuit()) {
        event->ignore();
        return;
    }
    closing_ = true;
    EndHomeWaits();  // a job waiting for the data folder gives up its turn
    RequestUpdateStop(session_);
    if (downloadLog_) {
        downloadLog_->close();
    }
    QMainWindow::closeEvent(event);
}

// --- Front end ----------------------------------------------------------------------

void MainWindow::ShowMessageNow(const QString& text) {
    if (messageHook) {
        messageHook(text);
        return;
    }
    QMessageBox box(TellsOfAProblem(text) ? QMessageBox::Warning : QMessageBox::Information,
                    kMessageCaption, text, QMessageBox::Ok, this);
    WidenForTitle(box);
    box.exec();
}

bool MainWindow::AskNow(const QString& text) {
    if (questionHook) {
        return questionHook(text);
    }
    QMessageBox box(QMessageBox::Question, kMessageCaption, text,
                    QMessageBox::Yes | QMessageBox::No, this);
    WidenForTitle(box);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::ShowMessage(const std::string& text) {
    CallBlocking([this, text] {
        if (!closing_) {
            ShowMessageNow(Q(text));
        }
    });
}

void MainWindow::Notice(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (auto* status = qobject_cast<QLabel*>(Control(ControlName(kControlJobStatus)))) {
                status->setText(Q(text));
            }
            DownloadLog()->AddLine(Q(text));
        },
        Qt::QueuedConnection);
}

bool MainWindow::AskYesNo(const std::string& text) {
    bool answer = false;
    CallBlocking([this, text, &answer] { answer = !closing_ && AskNow(Q(text)); });
    return answer;
}

void MainWindow::OpenLogin(const std::string& address) {
    // An adapter's request is always modal, whatever the login method says, and leaves a
    // login window the user is working in alone.
    CallBlocking([this, address] {
        if (!closing_) {
            RunModalLogin(Q(address));
        }
    });
}

CDownloadLog* MainWindow::DownloadLog() {
    if (!downloadLog_) {
        downloadLog_ = new CDownloadLog(this);
    }
    return downloadLog_;
}

// Failed photos are listed where they can be acted on: the log opens by itself, without
// holding anything up.
void MainWindow::DownloadFinished(const DownloadJobOutcome& outcome) {
    QMetaObject::invokeMethod(
        this,
        [this, outcome] {
            DownloadLog()->AddOutcome(outcome);
            if (AnythingFailed(outcome) && !closing_) {
                DownloadLog()->show();
            }
        },
        Qt::QueuedConnection);
}

// The widgets behind the core's text fields.
QString MainWindow::ControlName(int controlId) {
    switch (controlId) {
        case kControlSavePath:
            return "savePathBox";
        case kControlAddress:
            return "addressBox";
        case kControlProgress:
            return "progressLabel";
        case kControlJobStatus:
            return "jobStatusLabel";
        case kControlAlbumFrame:
            return "albumFrame";
        default:
            return {};
    }
}

void MainWindow::SetControlText(int controlId, const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, controlId, text] {
            QWidget* control = Control(ControlName(controlId));
            if (auto* label = qobject_cast<QLabel*>(control)) {
                label->setText(Q(text));
            } else if (auto* box = qobject_cast<QGroupBox*>(control)) {
                box->setTitle(Q(text));
            }
        },
        Qt::QueuedConnection);
}

// New rows arrive in bursts; they are added in batches, not one layout pass each.
void MainWindow::AlbumAdded(const AlbumRecord& album) {
    bool first = false;
    {
        std::lock_guard lock(pendingMutex_);
        first = pendingRows_.empty();
        pendingRows_.push_back(album.position);
    }
    if (first) {
        QMetaObject::invokeMethod(
            this, [this] { FlushNewRows(); }, Qt::QueuedConnection);
    }
}

void MainWindow::FlushNewRows() {
    std::vector<int> rows;
    {
        std::lock_guard lock(pendingMutex_);
        rows.swap(pendingRows_);
    }
    grid_->setUpdatesEnabled(false);
    for (const int index : rows) {
        grid_->ShowAlbum(index);
    }
    grid_->KeepSorted();
    grid_->setUpdatesEnabled(true);
}

void MainWindow::WorkerNotice(int, int) {}

void MainWindow::ListingLook(bool listing) {
    QMetaObject::invokeMethod(
        this,
        [this, listing] {
            if (listing) {
                siteBox_->setEnabled(false);
                downloadButton_->setEnabled(false);
                addressBox_->setEnabled(false);
                thumbBox_->setEnabled(false);
                selectAllBox_->setChecked(false);
                getButton_->setText("终止获取");
                notice_->hide();
                for (QLabel* link : {exportLink_, filterLink_, findLink_}) {
                    link->setEnabled(false);
                }
                return;
            }
            FlushNewRows();
            siteBox_->setEnabled(true);
            downloadButton_->setEnabled(session_.albums.Size() > 0);
            getButton_->setText("获取相册");
            addressBox_->setEnabled(true);
            thumbBox_->setEnabled(true);
            exportLink_->setEnabled(true);
            filterLink_->setEnabled(!thumbBox_->isChecked());
            findLink_->setEnabled(!thumbBox_->isChecked());
            RefreshHistories();
        },
        Qt::QueuedConnection);
}

void MainWindow::AutoDownload() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            FlushNewRows();
            grid_->selectAll();
            if (session_.downloadState == kDownloadIdle) {
                OnDownload();
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::DownloadLook(bool downloading) {
    QMetaObject::invokeMethod(
        this,
        [this, downloading] {
            downloadButton_->setText(downloading ? "终止下载" : "下载");
            for (QWidget* control :
                 {static_cast<QWidget*>(siteBox_), static_cast<QWidget*>(getButton_),
                  static_cast<QWidget*>(chooseButton_), static_cast<QWidget*>(addressBox_),
                  static_cast<QWidget*>(savePathBox_)}) {
                control->setEnabled(!downloading);
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::OpenFolder(const std::string& folder) {
    QMetaObject::invokeMethod(
        this,
        [this, folder] {
            if (openFolderHook) {
                openFolderHook(Q(folder));
            } else {
                QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
            }
        },
        Qt::QueuedConnection);
}

}  // namespace brenvik
