#include "gui/BrenvikDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AddressRule.h"
#include "app/ListJob.h"
#include "app/TableText.h"
#include "download/DownloadJob.h"
#include "gui/ComboBox2.h"
#include "gui/Dialogs.h"
#include "gui/DlgWebOpen.h"
#include "gui/DownloadLog.h"
#include "gui/MyGridCtrl.h"
#include "gui/SplashScreenEx.h"
#include "net/AtomicFile.h"
#include "net/BrowserCookies.h"
#include "net/CookieStore.h"
#include "net/Hosts.h"
#include "sites/AdapterKit.h"
#include "sites/Sites.h"

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
};

struct MenuEntry {
    const char* menu;
    int id;
    const char* text;
    Command command;
    std::uint16_t bit;
};

// Menu 129, in order.
const std::vector<MenuEntry>& MenuTable() {
    static const std::vector<MenuEntry> table = {
        {"登录", 32796, "登录方式1（如果登录失败，可勾选该项后再登录）", Command::LoginMethod, 0},
        {"登录", 32781, "QQ空间/QQ群", Command::Login, 0},
        {"登录", 32782, "腾讯微博（登录时勾上下次自动登录）", Command::Login, 0},
        {"登录", 32789, "百度", Command::Login, 0},
        {"登录", 32790, "网易", Command::Login, 0},
        {"登录", 32791, "人人", Command::Login, 0},
        {"登录", 32792, "又拍（下载器没弹窗提示你登录，就不要在这里登录）", Command::Login, 0},
        {"登录", 32793, "美空", Command::Login, 0},
        {"登录", 32794, "新浪微博（登录时勾上下次自动登录）", Command::Login, 0},
        {"登录", 32803, "淘宝（强烈建议用小号登录）", Command::Login, 0},
        {"登录", 32813, "56", Command::Login, 0},
        {"登录", 32815, "虎扑", Command::Login, 0},
        {"登录", 32795, "自定义登录", Command::Login, 0},
        {"登录", 32820, "从Firefox导入登录Cookie", Command::FirefoxCookies, 0},
        {"登录", 32821, "从Chromium导入登录Cookie", Command::ChromiumCookies, 0},
        {"设置", 32778, "下载参数设置", Command::DownSet, 0},
        {"设置", 32779, "文件名设置", Command::SaveSet, 0},
        {"设置", 32802, "只生成迅雷下载列表", Command::Option, kFlagListOnly},
        {"设置", 32804, "生成图片原始名文件", Command::Option, kFlagSourceNames},
        {"设置", 32799, "修正图片顺序", Command::Option, kFlagFixOrder},
        {"设置", 32800, "修正图片格式", Command::Option, kFlagFixFormat},
        {"设置", 32774, "不下载以前下载过的图片", Command::Option, kFlagSkipDownloaded},
        {"设置", 32812, "下载完成后打开保存路径", Command::Option, kFlagOpenFolder},
        {"设置", 32808, "只下载宝贝(商品)主图", Command::ShopOption, kFlagShopMainImages},
        {"设置", 32814, "只下载宝贝(商品)描述里的图片", Command::ShopOption,
         kFlagShopDescriptionImages},
        {"设置", 32776, "又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）", Command::Option,
         kFlagYupooLarge},
        {"下载文件", 32811, "导入下载文件并开始下载", Command::NoAction, 0},
        {"下载文件", 32809, "导出下载文件", Command::NoAction, 0},
        {"下载文件", 32810, "导出迅雷下载列表", Command::NoAction, 0},
        {"下载文件", 32816, "下载记录", Command::DownloadLog, 0},
        {"帮助", 32775, "版本信息", Command::About, 0},
        {"帮助", 32806, "使用说明", Command::Help, 0},
        {"帮助", 32807, "文件处理", Command::FileHelp, 0},
    };
    return table;
}

const MenuEntry* FindEntry(int id) {
    for (const MenuEntry& entry : MenuTable()) {
        if (entry.id == id) {
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

// A link that looks like plain grey text while it is disabled.
class CLinkLabel : public QLabel {
  public:
    CLinkLabel(const QString& text, QWidget* parent) : QLabel(parent), plain_(text) {
        setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        ShowState();
    }

  protected:
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

QLabel* Link(const QString& text, int id, QWidget* parent) {
    auto* link = new CLinkLabel(text, parent);
    link->setObjectName(QString("ctl%1").arg(id));
    return link;
}

// The program's icon, drawn like the splash picture: two overlapping photos.
QIcon ProgramIcon() {
    QPixmap icon(64, 64);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 64, 64);
    gradient.setColorAt(0, QColor(0x1F, 0x4E, 0x79));
    gradient.setColorAt(1, QColor(0x2E, 0x8B, 0x57));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRect(2, 2, 60, 60), 12, 12);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawRoundedRect(QRect(12, 10, 34, 28), 4, 4);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRect(18, 22, 34, 28), 4, 4);
    painter.setBrush(QColor(0x2E, 0x8B, 0x57));
    painter.drawPolygon(
        QPolygon({QPoint(21, 47), QPoint(31, 34), QPoint(38, 42), QPoint(43, 37), QPoint(49, 47)}));
    return QIcon(icon);
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
void CBrenvikDlg::CallBlocking(F f) {
    if (QThread::currentThread() == thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
    }
}

CBrenvikDlg::CBrenvikDlg(std::filesystem::path home, QWidget* parent)
    : QMainWindow(parent), session_(std::move(home), *this) {
    setObjectName("CBrenvikDlg");
    setWindowTitle("Brenvik 相册批量下载");
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);
    RegisterAllSites();
    BuildControls();
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

CBrenvikDlg::~CBrenvikDlg() {
    RequestListingStop(session_);
    RequestDownloadStop(session_);
    // Job threads may be waiting for this window; let them finish their queued calls.
    while ((listThread_.joinable() || downloadThread_.joinable()) &&
           (session_.listingState != kListingIdle || session_.downloadState != kDownloadIdle)) {
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

QString CBrenvikDlg::DefaultSavePath() const {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        documents = QDir::homePath();
    }
    const QString path = QDir(documents).filePath("Tarnwell");
    QDir().mkpath(path);
    return path + "/";
}

CDlgWebOpen* CBrenvikDlg::ModelessLogin() const {
    return modelessLogin_;
}

void CBrenvikDlg::Register(int id, QWidget* widget) {
    widget->setObjectName(QString("ctl%1").arg(id));
    controls_[id] = widget;
}

QWidget* CBrenvikDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QAction* CBrenvikDlg::MenuAction(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void CBrenvikDlg::BuildControls() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* statusRow = new QHBoxLayout;
    status1_ = new QLabel(central);
    status2_ = new QLabel(central);
    notice_ = new QLabel(QString::fromUtf8(kStartupNotice), central);
    Register(kControlJobStatus, status1_);
    Register(kControlProgress, status2_);
    Register(1013, notice_);
    status1_->setMinimumWidth(220);
    statusRow->addWidget(status1_);
    statusRow->addWidget(status2_, 1);
    statusRow->addWidget(notice_);
    layout->addLayout(statusRow);

    auto* addressRow = new QHBoxLayout;
    siteBox_ = new QComboBox(central);
    Register(1002, siteBox_);
    subBox_ = new QComboBox(central);
    Register(1035, subBox_);
    addressBox_ = new CComboBox2(central);
    Register(kControlAddress, addressBox_);
    getButton_ = new QPushButton("获取相册", central);
    Register(1004, getButton_);
    downloadButton_ = new QPushButton("下载", central);
    Register(1005, downloadButton_);
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
    savePathBox_ = new CComboBox2(central);
    Register(kControlSavePath, savePathBox_);
    chooseButton_ = new QPushButton("设置", central);
    Register(1007, chooseButton_);
    openButton_ = new QPushButton("打开", central);
    Register(1008, openButton_);
    saveRow->addWidget(savePathBox_, 1);
    saveRow->addWidget(chooseButton_);
    saveRow->addWidget(openButton_);
    layout->addLayout(saveRow);

    frame_ = new QGroupBox("相册列表", central);
    Register(kControlAlbumFrame, frame_);
    auto* frameLayout = new QVBoxLayout(frame_);
    auto* tools = new QHBoxLayout;
    exportLink_ = Link("导出", 1037, frame_);
    filterLink_ = Link("筛选", 1036, frame_);
    findLink_ = Link("查找", 1034, frame_);
    thumbBox_ = new QCheckBox("预览图", frame_);
    selectAllBox_ = new QCheckBox("全选", frame_);
    controls_[1037] = exportLink_;
    controls_[1036] = filterLink_;
    controls_[1034] = findLink_;
    Register(1014, thumbBox_);
    Register(1012, selectAllBox_);
    tools->addStretch();
    tools->addWidget(exportLink_);
    tools->addWidget(filterLink_);
    tools->addWidget(findLink_);
    tools->addWidget(thumbBox_);
    tools->addWidget(selectAllBox_);
    frameLayout->addLayout(tools);
    grid_ = new CMyGridCtrl(session_, frame_);
    controls_[1003] = grid_;
    frameLayout->addWidget(grid_);
    layout->addWidget(frame_, 1);
    auto* bottom = new QLabel(central);
    Register(1031, bottom);
    layout->addWidget(bottom);
    setCentralWidget(central);

    connect(getButton_, &QPushButton::clicked, this, &CBrenvikDlg::OnGetAlbums);
    connect(downloadButton_, &QPushButton::clicked, this, &CBrenvikDlg::OnDownload);
    connect(siteBox_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CBrenvikDlg::OnSiteChanged);
    connect(addressBox_, &CComboBox2::textEditedOrPicked, this, &CBrenvikDlg::ApplyAddressRule);
    connect(chooseButton_, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, "请选择文件保存目录：");
        if (!folder.isEmpty()) {
            SetSavePath(folder, true);
        }
    });
    connect(openButton_, &QPushButton::clicked, this, [this] {
        const QString folder = session_.downloadBusy ? Q(session_.downloads.AlbumFolder().string())
                                                     : savePathBox_->Text().trimmed();
        if (!folder.isEmpty()) {
            OpenFolder(folder.toStdString());
        }
    });
    connect(exportLink_, &QLabel::linkActivated, this, &CBrenvikDlg::OnExport);
    connect(filterLink_, &QLabel::linkActivated, this, &CBrenvikDlg::OnFilter);
    connect(findLink_, &QLabel::linkActivated, this, &CBrenvikDlg::OnFind);
    connect(thumbBox_, &QCheckBox::clicked, this, &CBrenvikDlg::OnThumbnailToggled);
    connect(selectAllBox_, &QCheckBox::clicked, this,
            [this](bool ticked) { ticked ? grid_->selectAll() : grid_->clearSelection(); });
    // An emptied table has nothing selected; a ticked box would say otherwise.
    connect(grid_, &CMyGridCtrl::tableReset, selectAllBox_,
            [this] { selectAllBox_->setChecked(false); });
}

void CBrenvikDlg::BuildMenu() {
    std::map<QString, QMenu*> menus;
    for (const MenuEntry& entry : MenuTable()) {
        const QString title = QString::fromUtf8(entry.menu);
        if (!menus.count(title)) {
            menus[title] = menuBar()->addMenu(title);
            connect(menus[title], &QMenu::aboutToShow, this, &CBrenvikDlg::RefreshMenuChecks);
        }
        QAction* action = menus[title]->addAction(QString::fromUtf8(entry.text));
        action->setObjectName(QString("menu%1").arg(entry.id));
        action->setCheckable(entry.command == Command::Option ||
                             entry.command == Command::ShopOption ||
                             entry.command == Command::LoginMethod);
        actions_[entry.id] = action;
        // The download-file items have nothing to do yet; they show so.
        action->setEnabled(entry.command != Command::NoAction);
        const int id = entry.id;
        connect(action, &QAction::triggered, this, [this, id] { OnMenuCommand(id); });
    }
    RefreshMenuChecks();
}

void CBrenvikDlg::StartUp(bool withSplash) {
    if (withSplash) {
        splash_ = new CSplashScreenEx(
            this, "正在启动，请稍候...",
            CSplashScreenEx::kFadeIn | CSplashScreenEx::kFadeOut | CSplashScreenEx::kCenterScreen);
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

void CBrenvikDlg::FinishStartUp(const QStringList& siteNames) {
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
    ApplyAddressRule(addressBox_->Text());
    session_.CheckHome();
}

void CBrenvikDlg::ShowAbout() {
    QMessageBox box(this);
    box.setObjectName("aboutBox");
    box.setWindowTitle("关于 Brenvik");
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(QString("Brenvik 相册批量下载\n版本 %1").arg(BRENVIK_VERSION));
    box.addButton("确定", QMessageBox::AcceptRole);
    box.exec();
}

void CBrenvikDlg::OnSiteChanged(int index) {
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

void CBrenvikDlg::ApplyAddressRule(const QString& text) {
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

void CBrenvikDlg::RefreshMenuChecks() {
    const int site = siteBox_ ? std::max(0, siteBox_->currentIndex()) : 0;
    const std::uint16_t flags = session_.SaveRules(site).flags;
    for (const MenuEntry& entry : MenuTable()) {
        QAction* action = actions_[entry.id];
        if (entry.command == Command::Option || entry.command == Command::ShopOption) {
            action->setChecked((flags & entry.bit) != 0);
        }
    }
    actions_[32796]->setChecked(loginMethod1_);
    actions_[32808]->setEnabled(site == 11 || site == 16);
    actions_[32814]->setEnabled(site == 11 || site == 16);
    actions_[32776]->setEnabled(site == 7);
}

void CBrenvikDlg::RefreshHistories() {
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
void CBrenvikDlg::ImportBrowserLogin(const std::string& browser) {
    const BrowserImport result =
        ImportBrowserCookies(browser, CookieStore::Shared(), UserHomeFolder());
    ShowMessageNow(Q(BrowserImportReport(result)));
}

void CBrenvikDlg::OnMenuCommand(int id) {
    const MenuEntry* entry = FindEntry(id);
    if (!entry) {
        return;
    }
    const int site = std::max(0, siteBox_->currentIndex());
    switch (entry->command) {
        case Command::LoginMethod:
            loginMethod1_ = !loginMethod1_;
            break;
        case Command::Login:
            OpenLoginWindow(LoginAddress(id), !loginMethod1_);
            break;
        case Command::DownSet: {
            ST_DOWNPARAM params = session_.DownParams(site);
            CDlgDownSet dialog(params, this);
            dialog.showMessage = [this](const QString& text) { ShowMessageNow(text); };
            if (dialog.exec() == QDialog::Accepted) {
                session_.SetDownParams(site, params);
            }
            break;
        }
        case Command::SaveSet: {
            ST_SAVESET rules = session_.SaveRules(site);
            CDlgSaveSet dialog(rules, this);
            dialog.showMessage = [this](const QString& text) { ShowMessageNow(text); };
            if (dialog.exec() == QDialog::Accepted) {
                session_.SetSaveRules(site, rules);
            }
            break;
        }
        case Command::Option:
        case Command::ShopOption: {
            ST_SAVESET rules = session_.SaveRules(site);
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

QString CBrenvikDlg::LoginAddress(int id) const {
    const auto base = [](const char* role) { return Q(SiteBase(role)); };
    switch (id) {
        case 32781: {
            const QString typed = addressBox_->Text().trimmed();
            const bool number =
                !typed.isEmpty() && IsDigitsOnly(typed) && subBox_->currentIndex() == 0;
            return base("qzone.user") + (number ? "/" + typed : QString());
        }
        case 32782:
            return base("tweibo.web");
        case 32789:
            return base("baidu.login");
        case 32790:
            return base("netease.login");
        case 32791:
            return base("renren.main");
        case 32792:
            return base("yupoo.web") + "/account/login/";
        case 32793: {
            QString home = base("moko.web");
            home.replace(":", "%3A");
            return base("moko.web") + "/jsps/common/login.jsp?tourl=" + home;
        }
        case 32794:
            return base("weibo.home") + "/login.php";
        case 32803:
            return "https://" + Q(Host("taobao.login")) + "/member/login.jhtml";
        case 32813:
            return base("56.web") + "/login/";
        case 32815:
            return base("hupu.passport") + "/login";
        default:
            return base("login.default");
    }
}

void CBrenvikDlg::OpenLoginWindow(const QString& address, bool modal) {
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

void CBrenvikDlg::OpenModelessLogin(const QString& address) {
    modelessLogin_ = new CDlgWebOpen(address, this);
    modelessLogin_->setAttribute(Qt::WA_DeleteOnClose);
    modelessLogin_->show();
}

void CBrenvikDlg::RunModalLogin(const QString& address) {
    CDlgWebOpen dialog(address, this);
    dialog.exec();
}

void CBrenvikDlg::SetSavePath(const QString& path, bool remember) {
    QString folder = path;
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    savePathBox_->SetText(folder);
    if (remember && session_.AddRecent(kRecentSavePaths, folder.toStdString())) {
        RefreshHistories();
    }
}

void CBrenvikDlg::JoinJobs() {
    if (listThread_.joinable()) {
        listThread_.join();
    }
    if (downloadThread_.joinable()) {
        downloadThread_.join();
    }
}

void CBrenvikDlg::OnGetAlbums() {
    if (!session_.ready) {
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

void CBrenvikDlg::OnDownload() {
    if (session_.downloadState != kDownloadIdle) {
        RequestDownloadStop(session_);
        return;
    }
    if (downloadThread_.joinable()) {
        downloadThread_.join();
    }
    session_.downloadState = kDownloadRunning;
    const std::vector<int> selected = grid_->SelectedAlbums();
    const std::string savePath = savePathBox_->Text().toStdString();
    downloadThread_ =
        std::thread([this, selected, savePath] { RunDownloadJob(session_, selected, savePath); });
}

void CBrenvikDlg::OnExport() {
    ShowMessageNow("此导出为导出表格内容，如需下载图片，请点击右上角的 下载 按钮。");
    const QString file = saveFileHook ? saveFileHook()
                                      : QFileDialog::getSaveFileName(this, QString(), QString(),
                                                                     "导出后，自行调整列宽(*.csv)");
    if (file.isEmpty()) {
        return;
    }
    QString path = file;
    if (!path.endsWith(".csv", Qt::CaseInsensitive)) {
        path += ".csv";
    }
    WriteFileAtomically(path.toStdString(), TableCsv(grid_->Texts()));
}

void CBrenvikDlg::OnFind() {
    if (!findPanel_) {
        findPanel_ = new CDlgFind(CDlgFind::Mode::Find, grid_, this);
        findPanel_->showMessage = [this](const QString& text) { ShowMessageNow(text); };
    }
    findPanel_->show();
    findPanel_->move(geometry().center() - findPanel_->rect().center());
}

void CBrenvikDlg::OnFilter() {
    if (findPanel_) {
        findPanel_->hide();
    }
    CDlgFind dialog(CDlgFind::Mode::Filter, grid_, this);
    if (dialog.exec() == QDialog::Accepted) {
        grid_->SetFilterOnce(dialog.Keyword());
    }
}

void CBrenvikDlg::OnThumbnailToggled() {
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

void CBrenvikDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CBrenvikDlg::dropEvent(QDropEvent* event) {
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

bool CBrenvikDlg::JobRunning() const {
    return session_.listingState != kListingIdle || session_.downloadState != kDownloadIdle;
}

bool CBrenvikDlg::AskStopAndQuit() {
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
void CBrenvikDlg::closeEvent(QCloseEvent* event) {
    if (!closing_ && JobRunning() && !AskStopAndQuit()) {
        event->ignore();
        return;
    }
    closing_ = true;
    RequestListingStop(session_);
    RequestDownloadStop(session_);
    if (downloadLog_) {
        downloadLog_->close();
    }
    QMainWindow::closeEvent(event);
}

// --- Front end ----------------------------------------------------------------------

void CBrenvikDlg::ShowMessageNow(const QString& text) {
    if (messageHook) {
        messageHook(text);
    } else {
        QMessageBox::information(this, kMessageCaption, text);
    }
}

bool CBrenvikDlg::AskNow(const QString& text) {
    if (questionHook) {
        return questionHook(text);
    }
    return QMessageBox::question(this, kMessageCaption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void CBrenvikDlg::ShowMessage(const std::string& text) {
    CallBlocking([this, text] {
        if (!closing_) {
            ShowMessageNow(Q(text));
        }
    });
}

void CBrenvikDlg::Notice(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (auto* status = qobject_cast<QLabel*>(Control(kControlJobStatus))) {
                status->setText(Q(text));
            }
            DownloadLog()->AddLine(Q(text));
        },
        Qt::QueuedConnection);
}

bool CBrenvikDlg::AskYesNo(const std::string& text) {
    bool answer = false;
    CallBlocking([this, text, &answer] { answer = !closing_ && AskNow(Q(text)); });
    return answer;
}

void CBrenvikDlg::OpenLogin(const std::string& address) {
    // An adapter's request is always modal, whatever the login method says, and leaves a
    // login window the user is working in alone.
    CallBlocking([this, address] {
        if (!closing_) {
            RunModalLogin(Q(address));
        }
    });
}

CDownloadLog* CBrenvikDlg::DownloadLog() {
    if (!downloadLog_) {
        downloadLog_ = new CDownloadLog(this);
    }
    return downloadLog_;
}

// Failed photos are listed where they can be acted on: the log opens by itself, without
// holding anything up.
void CBrenvikDlg::DownloadFinished(const DownloadJobOutcome& outcome) {
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

void CBrenvikDlg::SetControlText(int controlId, const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, controlId, text] {
            QWidget* control = Control(controlId);
            if (auto* label = qobject_cast<QLabel*>(control)) {
                label->setText(Q(text));
            } else if (auto* box = qobject_cast<QGroupBox*>(control)) {
                box->setTitle(Q(text));
            }
        },
        Qt::QueuedConnection);
}

// New rows arrive in bursts; they are added in batches, not one layout pass each.
void CBrenvikDlg::AlbumAdded(const ST_PERLISTRECORD& album) {
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

void CBrenvikDlg::FlushNewRows() {
    std::vector<int> rows;
    {
        std::lock_guard lock(pendingMutex_);
        rows.swap(pendingRows_);
    }
    grid_->setUpdatesEnabled(false);
    for (const int index : rows) {
        grid_->ShowAlbum(index);
    }
    grid_->setUpdatesEnabled(true);
}

void CBrenvikDlg::WorkerNotice(int, int) {}

void CBrenvikDlg::ListingLook(bool listing) {
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

void CBrenvikDlg::AutoDownload() {
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

void CBrenvikDlg::DownloadLook(bool downloading) {
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

void CBrenvikDlg::OpenFolder(const std::string& folder) {
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
