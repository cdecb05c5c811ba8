// The real window, driven as a person would: typing, clicking, menus, dialogs, and the
// login browser, against local servers.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineView>
#include <QWindow>

#include <atomic>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/Classify.h"
#include "app/TableText.h"
#include "download/Collect.h"
#include "download/DownloadJob.h"
#include "gui/AlbumTable.h"
#include "gui/Chinese.h"
#include "gui/Dialogs.h"
#include "gui/DownloadLog.h"
#include "gui/HistoryComboBox.h"
#include "gui/Home.h"
#include "gui/LoginWindow.h"
#include "gui/MainWindow.h"
#include "gui/SplashWindow.h"
#include "net/CookieStore.h"
#include "net/FolderLock.h"
#include "net/PageFetcher.h"
#include "net/TextKit.h"
#include "session/Session.h"
#include "settings/Settings.h"
#include "sites/QzoneServers.h"
#include "sites/Sites.h"
#include "support/BrowserDatabases.h"
#include "support/LocalSites.h"
#include "support/TestServer.h"

namespace brenvik {

bool chineseInstalled = false;  // set by main, as the program does at start

namespace {

using namespace std::chrono_literals;
using test::QzoneAlbum;
using test::QzonePhoto;
using test::QzoneServers;

// Lets the window work until the condition holds; false after the time.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

QString Text(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        return box->title();
    }
    return {};
}

// Input as the window system delivers it: to the top-level window, which hands it to an
// open popup, a keyboard grab or the focus widget, as it does for a person.
void PersonClicks(QWidget* widget, QPoint at = {}) {
    if (at.isNull()) {
        at = widget->rect().center();
    }
    QWindow* handle = widget->window()->windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    QTest::mouseClick(handle, Qt::LeftButton, {}, handle->mapFromGlobal(widget->mapToGlobal(at)));
    QApplication::processEvents();
}

void PersonTypes(QWidget* anyWidgetOfTheWindow, const QString& text) {
    QWindow* handle = anyWidgetOfTheWindow->window()->windowHandle();
    ASSERT_NE(handle, nullptr) << "the window is not shown";
    for (const QChar c : text) {
        QTest::keyClick(handle, c.toLatin1());
        QApplication::processEvents();
    }
}

// Clicks into the edit field and replaces what it holds by typing.
void PersonRetypes(QComboBox* box, const QString& text) {
    PersonClicks(box->lineEdit());
    QTest::keyClick(box->window()->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box->window()->windowHandle(), Qt::Key_Backspace);
    PersonTypes(box, text);
}

void PersonClicksCell(QTableView* table, int row, int column) {
    const QRect cell = table->visualRect(table->model()->index(row, column));
    ASSERT_TRUE(table->viewport()->rect().contains(cell.center())) << row << "," << column;
    PersonClicks(table->viewport(), cell.center());
}

// The history entries a person sees listed under a combo box, whatever widget lists them.
QStringList ShownHistory(QComboBox* box) {
    QAbstractItemView* view = nullptr;
    if (QWidget* popup = QApplication::activePopupWidget()) {
        view = popup->findChild<QAbstractItemView*>();
    }
    for (QAbstractItemView* candidate : box->window()->findChildren<QAbstractItemView*>()) {
        if (!view && candidate->isVisible() && candidate->window() == box->window() &&
            candidate->objectName() == "suggestions") {
            view = candidate;
        }
    }
    QStringList shown;
    if (view && view->isVisible()) {
        for (int r = 0; r < view->model()->rowCount(); ++r) {
            shown << view->model()->index(r, 0).data().toString();
        }
    }
    return shown;
}

// A cover image as a site serves it.
std::string PngBytes(QColor colour, QSize size = {400, 300}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

// Pixels of text drawn in the default colours: dark and grey, not a cover's colour.
bool IsInk(QRgb pixel) {
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    return std::max({r, g, b}) < 140 && std::max({r, g, b}) - std::min({r, g, b}) < 30;
}
bool IsCoverGreen(QRgb pixel) {
    return qGreen(pixel) > 100 && qRed(pixel) < 60 && qBlue(pixel) < 60;
}
// The bounding box of the pixels inside `area` that pass the test.
QRect PixelsWhere(const QImage& image, QRect area, const std::function<bool(QRgb)>& test) {
    QRect box;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (test(image.pixel(x, y))) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

// Runs `look` on the next modal dialog that opens, then closes it by clicking its button.
class NextModal {
  public:
    NextModal(std::function<void(QDialog*)> look, QString button)
        : look_(std::move(look)), button_(std::move(button)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(20);
    }
    bool Seen() const { return seen_; }

  private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            return;
        }
        timer_.stop();
        seen_ = true;
        look_(dialog);
        if (button_.isEmpty()) {
            return;  // `look` closed it
        }
        for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
            if (b->text() == button_) {
                PersonClicks(b);
                return;
            }
        }
        ADD_FAILURE() << "no button " << button_.toStdString();
        dialog->reject();
    }
    QTimer timer_;
    std::function<void(QDialog*)> look_;
    QString button_;
    bool seen_ = false;
};

class WindowTest : public ::testing::Test {
  protected:
    WindowTest() {
        CookieStore::Shared().Clear();
        QzoneServers::PutLoginCookies();
        QzoneAlbum trip{"A1", "旅行", "1", {}};
        for (int i = 0; i < 6; ++i) {
            QzonePhoto photo{.name = "照片" + std::to_string(i),
                             .raw = servers.Image("b1.qpic.cn", "p" + std::to_string(i))};
            trip.photos.push_back(photo);
        }
        QzoneAlbum hidden{
            "A2", "私密", "3", {{.name = "秘密", .raw = servers.Image("b1.qpic.cn", "h1")}}};
        QzoneAlbum locked{"A3", "加密", "5", {}};
        servers.albums = {trip, hidden, locked};

        window = std::make_unique<MainWindow>(home.Path());
        window->messageHook = [this](const QString& text) { messages << text; };
        window->questionHook = [this](const QString& text) {
            questions << text;
            return answer;
        };
        window->openFolderHook = [this](const QString& folder) { opened << folder; };
        window->StartUp(false);
        EXPECT_TRUE(WaitUntil([this] { return window->Ready(); }));
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->SavePathBox()->SetText(QString::fromStdString(save.Path().string()));
    }
    ~WindowTest() override {
        window.reset();
        CookieStore::Shared().Clear();
    }
    QWidget* C(const QString& name) { return window->Control(name); }
    void Click(const QString& name) { QTest::mouseClick(C(name), Qt::LeftButton); }
    void ListQzone() {
        window->AddressBox()->SetText("12345");
        Click("listButton");
        ASSERT_TRUE(WaitUntil([this] {
            return Text(C("listButton")) == "获取相册" && window->session().listingState == 0;
        }));
        QApplication::processEvents();
    }
    SettingsArea SoftDat() {
        std::ifstream in(home / "soft.dat", std::ios::binary);
        return SettingsArea::FromBytes(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    QzoneServers servers;
    test::LocalRouting routing{servers.Routes()};
    test::TempDir home;
    test::TempDir save;
    std::unique_ptr<MainWindow> window;
    QStringList messages;
    QStringList questions;
    QStringList opened;
    bool answer = false;
};

TEST_F(WindowTest, ListingAndDownloadAsAPersonSeesThem) {
    EXPECT_FALSE(C("downloadButton")->isEnabled()) << "nothing to download before a listing";
    servers.server.On("r.qzone.qq.com", "/GetRoute",
                      [this](const httplib::Request&, httplib::Response& res) {
                          servers.server.Stall(400ms);
                          res.set_content(servers.RouteAnswer(), "application/json");
                      });
    window->AddressBox()->SetText("12345");
    Click("listButton");
    EXPECT_TRUE(WaitUntil([this] { return Text(C("listButton")) == "终止获取"; }));
    EXPECT_FALSE(C("siteBox")->isEnabled());
    EXPECT_FALSE(C("addressBox")->isEnabled());
    EXPECT_EQ(Text(C("jobStatusLabel")), "正在获取相册列表，请稍等...");
    ASSERT_TRUE(WaitUntil([this] { return Text(C("listButton")) == "获取相册"; }));
    EXPECT_TRUE(C("downloadButton")->isEnabled());
    EXPECT_EQ(Text(C("albumFrame")), "相册列表(共3个)");
    EXPECT_EQ(Text(C("jobStatusLabel")), "获取相册列表完成，共3个");
    AlbumTable* grid = window->Grid();
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->item(0, 0)->text(), "0001");
    EXPECT_EQ(grid->item(0, 1)->text(), "旅行");
    EXPECT_EQ(grid->item(0, 2)->text(), "   6");
    EXPECT_EQ(grid->item(1, 3)->text(), "私密相册");
    EXPECT_EQ(grid->item(2, 3)->text(), "加密相册");

    servers.imageDelayMs = 300;
    grid->selectRow(0);
    Click("downloadButton");
    EXPECT_TRUE(WaitUntil([this] { return Text(C("downloadButton")) == "终止下载"; }));
    EXPECT_FALSE(C("listButton")->isEnabled());
    EXPECT_FALSE(C("savePathBox")->isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return Text(C("downloadButton")) == "下载"; }));
    EXPECT_EQ(Text(C("jobStatusLabel")), "下载完毕：1个相册，已保存6张");
    EXPECT_TRUE(C("listButton")->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "照片5.jpg"));
    EXPECT_EQ(opened.size(), 1) << "the folder opens after a download by default";
}

TEST_F(WindowTest, StopPaths) {
    ListQzone();
    servers.imageDelayMs = 500;
    window->Grid()->selectRow(0);
    Click("downloadButton");
    ASSERT_TRUE(WaitUntil([this] { return servers.imageRequests >= 1; }));
    Click("downloadButton");  // the stop command
    ASSERT_TRUE(WaitUntil([this] { return Text(C("downloadButton")) == "下载"; }));
    EXPECT_LT(servers.imageRequests, 6);
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "pic.zvt"));
    EXPECT_EQ(window->session().downloadState, kDownloadIdle);

    // A listing stopped before it ends still reports what it found.
    servers.server.On("r.qzone.qq.com", "/GetRoute",
                      [this](const httplib::Request&, httplib::Response& res) {
                          servers.server.Stall(600ms);
                          res.set_content(servers.RouteAnswer(), "application/json");
                      });
    Click("listButton");
    ASSERT_TRUE(WaitUntil([this] { return Text(C("listButton")) == "终止获取"; }));
    Click("listButton");
    ASSERT_TRUE(WaitUntil([this] { return Text(C("listButton")) == "获取相册"; }));
    EXPECT_TRUE(Text(C("jobStatusLabel")).startsWith("已终止获取相册列表"));
}

// Re-running albums that are complete, with skip on: nothing new, said on the status
// line, and no box holds the batch up.
TEST_F(WindowTest, ASkipRerunWithNothingNewRaisesNoBox) {
    SaveOptions rules = window->session().SaveRules(0);
    rules.flags = kFlagSkipDownloaded;
    window->session().SetSaveRules(0, rules);
    ListQzone();
    for (const QString ending :
         {"下载完毕：1个相册，已保存6张", "下载完毕：1个相册，已保存0张，1个相册没有新图片"}) {
        PersonClicksCell(window->Grid(), 0, 1);
        PersonClicks(C("downloadButton"));
        ASSERT_TRUE(WaitUntil([&] { return Text(C("jobStatusLabel")) == ending; }))
            << Text(C("jobStatusLabel")).toStdString();
        ASSERT_TRUE(WaitUntil([this] { return Text(C("downloadButton")) == "下载"; }));
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

// Failed photos are listed where a person can act on them, and their addresses copied.
TEST_F(WindowTest, TheDownloadLogListsFailedPhotosWithTheirReasons) {
    servers.brokenImages = {"p3"};
    ListQzone();
    PersonClicksCell(window->Grid(), 0, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return window->DownloadLog()->isVisible(); }));
    EXPECT_FALSE(window->DownloadLog()->isModal());
    EXPECT_TRUE(window->DownloadLog()->Text().contains(
        "失败：照片3.jpg  https://b1.qpic.cn/img?id=p3  HTTP 404"));
    PersonClicks(window->DownloadLog()->findChild<QPushButton*>("copyAddresses"));
    EXPECT_EQ(QApplication::clipboard()->text(), "https://b1.qpic.cn/img?id=p3\n");
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

// Another run holds the data folder while a setting is saved: the status line says which
// folder is in use, and the save goes through once the other run lets go.
TEST_F(WindowTest, AHeldHomeIsNamedInTheStatusLine) {
    WatchHomeLockWaits();
    const int held = ::open(home.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::thread otherRun([held] {
        std::this_thread::sleep_for(2500ms);
        ::close(held);
    });
    window->MenuAction("fixFormatAction")->trigger();
    otherRun.join();
    SetFolderLockWait({});
    EXPECT_TRUE(Text(C("jobStatusLabel")).contains("正被另一个运行中的下载器使用"))
        << Text(C("jobStatusLabel")).toStdString();
    const int site = qobject_cast<QComboBox*>(C("siteBox"))->currentIndex();
    EXPECT_EQ(LoadSettings(home.Path()).save[static_cast<std::size_t>(site)].flags,
              window->session().SaveRules(site).flags)
        << "saved once the other run let go";
}

// 关注 follows the listed owner's chosen albums; 全部更新 from the list lists the owner
// again and fetches only what is new.
TEST_F(WindowTest, FollowedOwnersUpdateFromTheFollowMenu) {
    ListQzone();
    window->MenuAction("followPickedAction")->trigger();
    EXPECT_EQ(messages.value(0), kNoAlbumSelected) << "nothing was selected";
    PersonClicksCell(window->Grid(), 0, 1);
    window->MenuAction("followPickedAction")->trigger();
    EXPECT_TRUE(Text(C("jobStatusLabel")).startsWith("已关注：12345"));
    NextModal list(
        [](QDialog* dialog) {
            const auto* table = dialog->findChild<QTableWidget*>("followTable");
            ASSERT_EQ(table->rowCount(), 1);
            EXPECT_EQ(table->item(0, 3)->text(), "从未");
        },
        "全部更新");
    window->MenuAction("followListAction")->trigger();
    EXPECT_TRUE(list.Seen());
    const QString first = "更新完毕：1个关注对象，新相册1个，新图片6张";
    ASSERT_TRUE(WaitUntil([&] { return Text(C("jobStatusLabel")) == first; }))
        << Text(C("jobStatusLabel")).toStdString();
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "照片5.jpg"));
    EXPECT_FALSE(std::filesystem::exists(save / "私密")) << "only the chosen album is followed";
    const int requests = servers.imageRequests;
    window->MenuAction("updateAllAction")->trigger();
    ASSERT_TRUE(WaitUntil([this] {
        return Text(C("jobStatusLabel")) == "更新完毕：1个关注对象，新相册0个，新图片0张";
    })) << Text(C("jobStatusLabel")).toStdString();
    EXPECT_EQ(servers.imageRequests, requests);
}

// The download button stops an update as it stops a download.
TEST_F(WindowTest, TheDownloadButtonStopsAnUpdate) {
    ListQzone();
    PersonClicksCell(window->Grid(), 0, 1);
    window->MenuAction("followPickedAction")->trigger();
    servers.imageDelayMs = 500;
    window->MenuAction("updateAllAction")->trigger();
    ASSERT_TRUE(WaitUntil([this] { return servers.imageRequests >= 1; }));
    Click("downloadButton");
    ASSERT_TRUE(WaitUntil([this] {
        return Text(C("jobStatusLabel")).startsWith("已终止：1个关注对象");
    })) << Text(C("jobStatusLabel")).toStdString();
    EXPECT_LT(servers.imageRequests, 6);
    EXPECT_FALSE(window->session().updateRunning);
    EXPECT_TRUE(C("listButton")->isEnabled());
}

TEST_F(WindowTest, ClosingDuringADownloadAsksOnce) {
    ListQzone();
    int asked = 0;
    bool quit = false;
    window->closeQuestionHook = [&] { return ++asked, quit; };
    servers.imageDelayMs = 500;
    PersonClicksCell(window->Grid(), 0, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return servers.imageRequests >= 1; }));
    window->close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window->isVisible()) << "继续 keeps the window and the download";
    quit = true;
    window->close();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(WaitUntil([this] { return window->session().downloadState == kDownloadIdle; }));
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "pic.zvt")) << "stopped as a stop does";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(WindowTest, ClosingDuringAHangingListingLeavesNoBox) {
    servers.server.On("r.qzone.qq.com", "/GetRoute",
                      [this](const httplib::Request&, httplib::Response&) {
                          servers.server.Stall(60s);  // a host that never answers
                      });
    window->closeQuestionHook = [] { return true; };
    window->AddressBox()->SetText("12345");
    Click("listButton");
    ASSERT_TRUE(WaitUntil([this] { return Text(C("progressLabel")).contains("r.qzone.qq.com"); }))
        << "the wait names its host";
    window->close();
    window.reset();  // what ends the program: it returns once the jobs ended
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(WindowTest, MenuTogglesAreStoredPerSite) {
    auto* site = qobject_cast<QComboBox*>(C("siteBox"));
    site->setCurrentIndex(5);
    window->MenuAction("fixFormatAction")->trigger();
    EXPECT_TRUE(window->MenuAction("fixFormatAction")->isChecked());
    EXPECT_EQ(SoftDat().save[5].flags & kFlagFixFormat, kFlagFixFormat);
    EXPECT_EQ(SoftDat().save[0].flags & kFlagFixFormat, 0);
    site->setCurrentIndex(0);
    QApplication::processEvents();
    EXPECT_FALSE(window->MenuAction("fixFormatAction")->isChecked())
        << "check marks follow the site";
    EXPECT_FALSE(window->MenuAction("yupooLargeAction")->isEnabled());
    site->setCurrentIndex(7);
    EXPECT_TRUE(window->MenuAction("yupooLargeAction")->isEnabled());
}

TEST_F(WindowTest, ShopOptionsExcludeEachOther) {
    auto* site = qobject_cast<QComboBox*>(C("siteBox"));
    EXPECT_FALSE(window->MenuAction("shopMainImagesAction")->isEnabled());
    site->setCurrentIndex(11);
    EXPECT_TRUE(window->MenuAction("shopMainImagesAction")->isEnabled());
    EXPECT_TRUE(window->MenuAction("shopDescriptionImagesAction")->isEnabled());
    window->MenuAction("shopMainImagesAction")->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages),
              kFlagShopMainImages);
    window->MenuAction("shopDescriptionImagesAction")->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages),
              kFlagShopDescriptionImages);
    EXPECT_FALSE(window->MenuAction("shopMainImagesAction")->isChecked());
    window->MenuAction("shopDescriptionImagesAction")->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages), 0);
}

TEST_F(WindowTest, LoginCookiesFromTheUsersBrowsers) {
    test::TempDir userHome;
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(userHome.Path().string()));
    test::browser::MakeFirefoxDatabase(userHome / ".mozilla/firefox/p.default/cookies.sqlite",
                                       test::browser::FirefoxRow(".baidu.com", "BDUSS", "ff", 0));
    std::ofstream(userHome / ".mozilla/firefox/profiles.ini")
        << "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n";
    window->MenuAction("firefoxCookiesAction")->trigger();
    EXPECT_TRUE(messages.value(0).startsWith("已从浏览器导入1个Cookie(读取 "))
        << messages.value(0).toStdString();
    EXPECT_EQ(CookieStore::Shared().CookiesFor("https://xiangce.baidu.com/"), "BDUSS=ff");

    window->MenuAction("chromiumCookiesAction")->trigger();  // no Chromium profile in this home
    EXPECT_TRUE(messages.value(1).startsWith("找不到浏览器的Cookie数据库"))
        << messages.value(1).toStdString();
    qputenv("HOME", realHome);
}

TEST_F(WindowTest, TypedAddressesPickTheSite) {
    auto* site = qobject_cast<QComboBox*>(C("siteBox"));
    auto* sub = qobject_cast<QComboBox*>(C("subKindBox"));
    QLineEdit* edit = window->AddressBox()->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, "http://detail.zol.com.cn/1.html");
    EXPECT_EQ(site->currentIndex(), 9);
    EXPECT_FALSE(sub->isVisible());

    // Every site family's address, typed as a person types it, reaches its site (and,
    // for the QQ family, its sub-selector), and the listing that follows has an adapter.
    struct Typed {
        const char* address;
        int site;
        int sub;
    };
    const Typed addresses[] = {
        {"http://t.qq.com/bob", 0, 2},
        {"https://qun.qzone.qq.com/group#!/98765/photo", 0, 1},
        {"https://xiangce.baidu.com/u/owner7", 1, 0},
        {"https://bob.blog.163.com/", 2, 0},
        {"https://www.renren.com/123456", 3, 0},
        {"https://zhan.renren.com/tea", 3, 0},
        {"https://blog.sina.com.cn/bob", 4, 0},
        {"https://weibo.com/12345", 4, 0},
        {"https://www.56.com/u/bob", 5, 0},
        {"https://www.poco.cn/user/bob", 6, 0},
        {"https://bob.yupoo.com/", 7, 0},
        {"https://home.51.com/bob", 8, 0},
        {"https://bbs.zol.com.cn/dan/", 9, 0},
        {"https://photo.pchome.com.tw/ellen/", 10, 0},
        {"https://shop1.1688.com/", 11, 0},
        {"https://item.taobao.com/item.htm?id=1", 11, 0},
        {"https://www.moko.cc/kate/", 12, 0},
        {"https://www.babytree.com/u43", 13, 0},
        {"https://photo.pconline.com.cn/bob", 14, 0},
        {"https://my.hupu.com/bob", 15, 0},
        {"https://item.jd.com/100.html", 16, 0},
        {"https://www.instagram.com/bob/", 17, 0},
        {"https://www.duitang.com/people/bob", 18, 0},
        {"https://bob.lofter.com/", 19, 0},
        {"https://www.topit.me/user/7", 20, 0},
    };
    for (const Typed& typed : addresses) {
        edit->clear();
        QTest::keyClicks(edit, typed.address);
        EXPECT_EQ(site->currentIndex(), typed.site) << typed.address;
        if (typed.site == 0) {
            EXPECT_EQ(sub->currentIndex(), typed.sub) << typed.address;
        }
        const ListPlan plan =
            Classify(site->currentIndex(), sub->currentIndex(), edit->text().toStdString(),
                     [](const std::string&) { return std::nullopt; });
        for (const ListStep& step : plan.chain) {
            EXPECT_NE(FindAlbumLister(step.lister), nullptr) << typed.address;
        }
    }
}

TEST_F(WindowTest, HistoryListFiltersAsYouType) {
    HistoryComboBox* box = window->AddressBox();
    box->SetEntries({"http://a.com/Foo", "http://b.com/bar", "abczvt?!oxffhidden", ""});
    PersonRetypes(box, "FOO");
    EXPECT_EQ(ShownHistory(box), QStringList{"http://a.com/Foo"});
    EXPECT_EQ(box->Text(), "FOO") << "the typed text stays";
    EXPECT_TRUE(box->lineEdit()->hasFocus()) << "the edit field keeps the keyboard";
    PersonRetypes(box, "abc");
    EXPECT_EQ(ShownHistory(box), QStringList{"abc"}) << "shown up to the marker";
    PersonTypes(box, "x");
    EXPECT_TRUE(ShownHistory(box).isEmpty()) << "nothing holds abcx: the list closes";

    // The arrow shows every entry; a click on one puts it into the box.
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = true;
    const QRect arrow =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, box);
    PersonClicks(box, arrow.center());
    ASSERT_EQ(ShownHistory(box).size(), 3);
    QListWidget* list = box->SuggestionList();
    PersonClicks(list->viewport(), list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(box->Text(), "http://b.com/bar");
    EXPECT_TRUE(ShownHistory(box).isEmpty());

    // Up/Down steer the list, Return takes the entry, Escape only closes the list.
    PersonRetypes(box, "http");
    QWindow* handle = window->windowHandle();
    QTest::keyClick(handle, Qt::Key_Down);
    QTest::keyClick(handle, Qt::Key_Down);
    QTest::keyClick(handle, Qt::Key_Return);
    EXPECT_EQ(box->Text(), "http://b.com/bar");
    PersonRetypes(box, "http");
    QTest::keyClick(handle, Qt::Key_Escape);
    EXPECT_TRUE(ShownHistory(box).isEmpty());
    EXPECT_EQ(box->Text(), "http");
}

// Typing with the history list open: every key lands in the box, and the next click on
// 获取相册 starts the listing of exactly what was typed.
TEST_F(WindowTest, TypedAddressIsWhatTheListingReads) {
    HistoryComboBox* box = window->AddressBox();
    box->SetEntries({"20000", "204805"});
    PersonRetypes(box, "2");
    EXPECT_EQ(ShownHistory(box), (QStringList{"20000", "204805"})) << "the history is offered";
    PersonTypes(box, "0480");
    ASSERT_EQ(box->Text(), "20480");
    EXPECT_EQ(ShownHistory(box), QStringList{"204805"}) << "still open while typing";
    PersonClicks(C("listButton"));
    ASSERT_TRUE(WaitUntil([this] { return window->session().AddressText() == "20480"; }))
        << "the click started no listing of the typed text";
    ASSERT_TRUE(WaitUntil([this] {
        return Text(C("listButton")) == "获取相册" && window->session().listingState == 0;
    }));
}

TEST_F(WindowTest, TypedSavePathIsWhereTheDownloadGoes) {
    ListQzone();
    const QString base = QString::fromStdString(save.Path().string());
    HistoryComboBox* pathBox = window->SavePathBox();
    pathBox->SetEntries({base + "/old/"});
    PersonRetypes(pathBox, base + "/");
    EXPECT_EQ(ShownHistory(pathBox), QStringList{base + "/old/"});
    PersonTypes(pathBox, "new/");
    ASSERT_EQ(pathBox->Text(), base + "/new/");
    PersonClicksCell(window->Grid(), 0, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return Text(C("jobStatusLabel")).startsWith("下载完毕："); }));
    EXPECT_TRUE(std::filesystem::exists(save / "new" / "旅行" / "照片5.jpg"));
    EXPECT_FALSE(std::filesystem::exists(save / "old"));
    EXPECT_EQ(SoftDat().recent[kRecentSavePaths][0], (base + "/new/").toStdString())
        << "a typed save path is remembered as a chosen one";
}

// `brenvik ADDRESS`, as the menu entry starts it: the address is listed once the window is up.
TEST_F(WindowTest, AnAddressOnTheCommandLineIsListed) {
    window.reset();
    window = std::make_unique<MainWindow>(home.Path());
    window->messageHook = [this](const QString& text) { messages << text; };
    window->SetStartAddress("12345");
    window->StartUp(false);
    ASSERT_TRUE(WaitUntil([this] { return window->Grid()->rowCount() == 3; }));
    EXPECT_EQ(window->AddressBox()->Text(), "12345");
    // The icon is the picture of the installed icon files, not an empty one.
    EXPECT_EQ(window->windowIcon().pixmap(64, 64).toImage().pixelColor(32, 30), QColor(Qt::white));
}

TEST_F(WindowTest, ThumbnailsSixToARow) {
    Session& session = window->session();
    for (int i = 0; i < 13; ++i) {
        AddAlbum(session, AlbumRecord{.name = "album " + std::to_string(i)});
    }
    QApplication::processEvents();
    window->Grid()->StartThumbnailPass();
    AlbumTable* grid = window->Grid();
    EXPECT_EQ(grid->rowCount(), 3);
    ASSERT_NE(grid->item(2, 0), nullptr);
    EXPECT_EQ(grid->item(2, 0)->text(), "13.album 12");
    EXPECT_GE(grid->rowHeight(2), kThumbHeight + grid->fontMetrics().height())
        << "room for the caption under the cover";
    grid->item(0, 1)->setSelected(true);
    grid->item(2, 0)->setSelected(true);
    EXPECT_EQ(grid->SelectedAlbums(), (std::vector<int>{1, 12}));
}

TEST_F(WindowTest, ThumbnailModeShowsAllSixColumnsWithCaptionsUnderTheCovers) {
    test::TestServer covers;
    covers.Serve("", "/green.png", PngBytes(Qt::darkGreen), "image/png");
    Session& session = window->session();
    for (int i = 0; i < 13; ++i) {
        AlbumRecord album{.name = "album " + std::to_string(i)};
        if (i == 1) {
            album.name = "a long album name that cannot fit under one cover";
            album.coverUrl = covers.Base() + "/green.png";
        }
        if (i == 12) {
            album.name = "another long album name, this one without a cover";
        }
        AddAlbum(session, album);
    }
    QApplication::processEvents();
    AlbumTable* grid = window->Grid();
    EXPECT_TRUE(grid->isColumnHidden(4)) << "list mode hides the two spare columns";
    PersonClicks(C("thumbnailBox"));
    ASSERT_TRUE(WaitUntil([&] { return grid->PassState() == kPassIdle; }));
    ASSERT_EQ(session.albums.At(1)->thumbSlot, 0);
    QApplication::processEvents();
    for (int c = 0; c < kThumbColumns; ++c) {
        EXPECT_FALSE(grid->isColumnHidden(c)) << c;
        const QRect cell = grid->visualRect(grid->model()->index(0, c));
        EXPECT_GE(cell.width(), kThumbWidth) << c;
        EXPECT_TRUE(grid->viewport()->rect().contains(cell)) << c;
    }

    // What a person sees: the cover, and under it the caption, cut to the cell.
    grid->clearSelection();
    QApplication::processEvents();
    const QImage shown = grid->viewport()->grab().toImage();
    const QRect coverCell = grid->visualRect(grid->model()->index(0, 1));
    const QRect cover = PixelsWhere(shown, coverCell, IsCoverGreen);
    const QRect caption = PixelsWhere(shown, coverCell, IsInk);
    ASSERT_GE(cover.width(), kThumbWidth - 2);
    ASSERT_FALSE(caption.isEmpty()) << "no caption in the cell";
    EXPECT_GT(caption.top(), cover.bottom()) << "the caption is under the cover";
    EXPECT_GT(caption.width(), cover.width() / 2) << "the caption runs along the cell";
    EXPECT_LT(caption.height(), grid->fontMetrics().height() + 2) << "one line";
    grid->scrollToBottom();  // covers grow with the width: the last row may be below
    QApplication::processEvents();
    const QImage below = grid->viewport()->grab().toImage();
    const QRect bare = grid->visualRect(grid->model()->index(2, 0));
    const QRect bareCaption = PixelsWhere(below, bare, IsInk);
    EXPECT_FALSE(bareCaption.isEmpty());
    const QRect nextCell = grid->visualRect(grid->model()->index(2, 1));
    EXPECT_TRUE(PixelsWhere(below, nextCell.adjusted(2, 2, -2, -2), IsInk).isEmpty())
        << "a long name without a cover stays in its own cell";

    // The sixth column is there to be clicked.
    PersonClicksCell(grid, 0, 5);
    EXPECT_EQ(grid->SelectedAlbums(), std::vector<int>{5});
    PersonClicksCell(grid, 1, 4);
    EXPECT_EQ(grid->SelectedAlbums(), std::vector<int>{10});
}

// The table's albums came from one site; choosing another one afterwards (by typing its
// address) must not change where and how they are downloaded.
TEST_F(WindowTest, DownloadAfterASiteChangeUsesTheListedSite) {
    ListQzone();
    Session& session = window->session();
    SaveOptions zolRules = session.SaveRules(9);
    zolRules.flags = kFlagListOnly;  // would write an address list instead of images
    session.SetSaveRules(9, zolRules);
    auto* site = qobject_cast<QComboBox*>(C("siteBox"));
    PersonRetypes(window->AddressBox(), "http://detail.zol.com.cn/1.html");
    ASSERT_EQ(site->currentIndex(), 9) << "the typed address picked ZOL";
    PersonClicksCell(window->Grid(), 0, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return Text(C("jobStatusLabel")).startsWith("下载完毕："); }));
    EXPECT_FALSE(messages.contains("暂不支持该网站相册的图片下载"))
        << messages.join("|").toStdString();
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "照片5.jpg"));
    EXPECT_FALSE(std::filesystem::exists(save / "旅行.lst"));
    EXPECT_EQ(opened.size(), 1) << "Qzone's own option opens the folder";
    EXPECT_EQ(site->currentIndex(), 9) << "the user's choice stays for the next listing";
}

TEST_F(WindowTest, ListOnlyWritesTheAddressListAndTheAria2List) {
    ListQzone();
    Session& session = window->session();
    SaveOptions rules = session.SaveRules(0);
    rules.flags = kFlagListOnly;
    session.SetSaveRules(0, rules);
    PersonClicksCell(window->Grid(), 0, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return Text(C("jobStatusLabel")).startsWith("下载完毕："); }));
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "旅行.lst"));
    std::ifstream aria2(save / "旅行" / "旅行.aria2.txt");
    std::string first;
    std::string dir;
    ASSERT_TRUE(std::getline(aria2, first) && std::getline(aria2, dir));
    EXPECT_TRUE(first.starts_with("http")) << first;
    EXPECT_EQ(dir, " dir=" + (save / "旅行").string());
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "照片5.jpg")) << "nothing downloaded";
}

TEST_F(WindowTest, CoversAreFetchedScaledAndReused) {
    QImage cover(400, 300, QImage::Format_RGB32);
    cover.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    cover.save(&buffer, "PNG");
    test::TestServer covers;
    covers.Serve("", "/cover.png", png.toStdString(), "image/png");
    Session& session = window->session();
    AddAlbum(session, AlbumRecord{.name = "with cover", .coverUrl = covers.Base() + "/cover.png"});
    AddAlbum(session, AlbumRecord{.name = "broken", .coverUrl = covers.Base() + "/missing.png"});
    QApplication::processEvents();
    auto* thumbs = qobject_cast<QCheckBox*>(C("thumbnailBox"));
    thumbs->click();
    ASSERT_TRUE(WaitUntil([&] { return window->Grid()->PassState() == kPassIdle; }));
    EXPECT_EQ(session.albums.At(0)->thumbSlot, 0);
    EXPECT_EQ(session.albums.At(1)->thumbSlot, -1);
    EXPECT_TRUE(std::filesystem::exists(home / "tmp" / "0.jpg"));
    EXPECT_FALSE(std::filesystem::exists(home / "tmp" / "1.jpg"))
        << "no error page kept as a cover";
    const QIcon icon = window->Grid()->item(0, 0)->icon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().value(0), QSize(kThumbWidth, kThumbHeight));
    EXPECT_FALSE(C("filterLink")->isEnabled()) << "no filter in thumbnail mode";

    // Back to the list and into thumbnails again: the cover is not fetched twice.
    thumbs->click();
    covers.ClearRequests();
    thumbs->click();
    ASSERT_TRUE(WaitUntil([&] { return window->Grid()->PassState() == kPassIdle; }));
    EXPECT_EQ(covers.RequestCount(), 1u) << "only the broken cover is asked for again";
}

TEST_F(WindowTest, TenThousandAlbumsArriveInBatches) {
    Session& session = window->session();
    std::thread listing([&session] {
        for (int i = 0; i < 10000; ++i) {
            AddAlbum(session, AlbumRecord{.name = "album " + std::to_string(i)});
        }
    });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(1);
    ASSERT_TRUE(WaitUntil([&] { return window->Grid()->rowCount() == 10000; }, 60s));
    listing.join();
    EXPECT_GT(ticks, 0) << "the window kept handling events while rows arrived";
    EXPECT_EQ(window->Grid()->item(9999, 0)->text(), "10000");
    EXPECT_EQ(window->Grid()->item(9999, 1)->text(), "album 9999");
}

TEST_F(WindowTest, FindWrapsAndFilterActsOnce) {
    Session& session = window->session();
    for (const char* name : {"Spring", "summer", "Autumn", "spring walk"}) {
        AddAlbum(session, AlbumRecord{.name = name});
    }
    QApplication::processEvents();
    AlbumTable* grid = window->Grid();
    ASSERT_EQ(grid->rowCount(), 4);
    window->OnFind();
    FindBar* panel = window->FindPanel();
    ASSERT_NE(panel, nullptr);
    panel->findChild<QLineEdit*>("keywordField")->setText("SPRING");
    grid->setCurrentCell(0, 0);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 3);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 0) << "wraps to the first match";
    panel->findChild<QCheckBox*>("matchCaseBox")->setChecked(true);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 0) << "match case: only 'Spring' qualifies";
    panel->findChild<QLineEdit*>("keywordField")->setText("  ");
    panel->Search(true);
    EXPECT_EQ(messages.last(), "关键字不能为空");

    grid->SetFilterOnce("spring");
    ASSERT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(grid->item(0, 1)->text(), "spring walk");
    grid->Reset(false);
    grid->ShowAll();
    EXPECT_EQ(grid->rowCount(), 4) << "the filter acts once";
}

TEST_F(WindowTest, ExportWritesTheTableAsCsv) {
    AddAlbum(window->session(), AlbumRecord{.name = "a,b \"q\" it's", .photoCount = 3});
    AddAlbum(window->session(), AlbumRecord{.name = "中文", .access = kAccessFriends});
    QApplication::processEvents();
    const QString file = QString::fromStdString((save / "table").string());
    window->saveFileHook = [file] { return file; };
    window->OnExport();
    EXPECT_EQ(messages.last(), "此导出为导出表格内容，如需下载图片，请点击右上角的 下载 按钮。");
    std::ifstream in(save / "table.csv", std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    // The name lost its quotes when the album was added; the export drops "'".
    EXPECT_EQ(bytes, "0001,a','b q its,   3,,,,\r\n0002," + ToGbk("中文") + "," + ToGbk("未知") +
                         "," + ToGbk("好友可见") + ",,,\r\n");
}

// The number fields as a person meets them: letters never land, a value out of range is
// named with its field and range, 确定 keeps, 取消 discards.
TEST_F(WindowTest, SettingsDialogsValidate) {
    const auto retype = [](QWidget* field, const QString& text) {
        PersonClicks(field);
        QTest::keyClick(field->window()->windowHandle(), Qt::Key_A, Qt::ControlModifier);
        PersonTypes(field, text);
    };
    {
        NextModal look(
            [&](QDialog* dialog) {
                auto* minSize = dialog->findChild<QSpinBox*>("minSizeField");
                retype(minSize, "1x2y");
                EXPECT_EQ(minSize->text(), "12") << "letters are refused";
                retype(dialog->findChild<QSpinBox*>("timeoutField"), "9");
                PersonClicks(dialog->findChild<QPushButton*>("okButton"));
                EXPECT_EQ(messages.value(0), "参数错误：超时(秒)应在10~65535之间");
                ASSERT_TRUE(dialog->isVisible()) << "a bad value keeps the dialog open";
                retype(dialog->findChild<QSpinBox*>("timeoutField"), "10");
                retype(dialog->findChild<QLineEdit*>("aria2RpcField"), "http://nas:6800/jsonrpc");
            },
            "确定");
        window->MenuAction("downloadSettingsAction")->trigger();
        ASSERT_TRUE(look.Seen());
    }
    EXPECT_EQ(ReadExtendedSettings(home.Path()).aria2.address, "http://nas:6800/jsonrpc");
    EXPECT_EQ(SoftDat().down[0].timeout, 10);
    EXPECT_EQ(SoftDat().down[0].minK, 12);
    {
        NextModal look(
            [&](QDialog* dialog) { retype(dialog->findChild<QSpinBox*>("threadsField"), "3"); },
            "取消");
        window->MenuAction("downloadSettingsAction")->trigger();
        ASSERT_TRUE(look.Seen());
    }
    EXPECT_NE(SoftDat().down[0].threads, 3) << "取消 stores nothing";

    SaveOptions rules;
    FileNameSettingsDialog saveSet(rules, window.get());
    saveSet.findChild<QLineEdit*>("filePrefixField")->setText(QString(45, 'p'));
    saveSet.findChild<QRadioButton*>("namingAddressButton")->setChecked(true);
    saveSet.findChild<QRadioButton*>("folderNoneButton")->setChecked(true);
    saveSet.Accept();
    EXPECT_EQ(rules.filePrefix, std::string(38, 'p'));
    EXPECT_EQ(rules.namingMode, kNameByAddress);
    EXPECT_EQ(rules.folderMode, kFolderNone);
    EXPECT_TRUE(FileNameSettingsDialog::HelpText().endsWith(
        "?9:相册在列表中的序号(格式为：0001,0002,0003...)"));
}

TEST_F(WindowTest, EnterInTheAddressBoxLists) {
    for (const auto& [key, modifier] : {std::pair{Qt::Key_Return, Qt::NoModifier},
                                        std::pair{Qt::Key_Enter, Qt::KeypadModifier}}) {
        window->Grid()->Reset(false);
        PersonRetypes(window->AddressBox(), "12345");
        QTest::keyClick(window->windowHandle(), key, modifier);
        ASSERT_TRUE(WaitUntil([this] {
            return window->Grid()->rowCount() == 3 && window->session().listingState == 0;
        })) << key;
    }
}

// A header click sorts the rows; what is selected and downloaded afterwards is the album
// the person clicked, not the one that stood in that row before.
TEST_F(WindowTest, HeaderClickSortsAndTheDownloadTakesTheAlbumsSeen) {
    ListQzone();
    AlbumTable* grid = window->Grid();
    const auto clickHeader = [grid](int column) {
        QHeaderView* header = grid->horizontalHeader();
        PersonClicks(header->viewport(),
                     QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    };
    const auto column = [grid](int c) {
        QStringList texts;
        for (int r = 0; r < grid->rowCount(); ++r) {
            texts << grid->item(r, c)->text().trimmed();
        }
        return texts;
    };
    clickHeader(1);
    ASSERT_EQ(column(1), (QStringList{"加密", "旅行", "私密"}));
    EXPECT_TRUE(grid->SelectedAlbums().empty()) << "a header click selects nothing";
    PersonClicksCell(grid, 1, 1);
    PersonClicks(C("downloadButton"));
    ASSERT_TRUE(WaitUntil([this] { return Text(C("jobStatusLabel")).startsWith("下载完毕："); }));
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "照片5.jpg"));
    EXPECT_FALSE(std::filesystem::exists(save / "私密"));

    // Names in pinyin order, counts as numbers with 未知 last both ways; a filter says so.
    window->Grid()->Reset(false);
    window->session().albums.Clear();
    for (const auto& [name, count] : {std::pair{"张三", 7}, std::pair{"阿里", -1},
                                      std::pair{"北京", 1234}, std::pair{"成都", 20}}) {
        AddAlbum(window->session(), AlbumRecord{.name = name, .photoCount = count});
    }
    QApplication::processEvents();
    clickHeader(1);
    EXPECT_EQ(column(1), (QStringList{"阿里", "北京", "成都", "张三"}));
    clickHeader(2);
    EXPECT_EQ(column(2), (QStringList{"7", "20", "1234", "未知"}));
    clickHeader(2);
    EXPECT_EQ(column(2), (QStringList{"1234", "20", "7", "未知"}));
    grid->SetFilterOnce("京");
    EXPECT_EQ(Text(C("filterStatusLabel")), "筛选: 京 (显示 1/4)");
}

TEST_F(WindowTest, TheFolderDialogSpeaksChinese) {
    std::filesystem::create_directories(save / "相册");
    QString type;
    QString date;
    NextModal look(
        [&](QDialog* dialog) {
            qobject_cast<QFileDialog*>(dialog)->setDirectory(
                QString::fromStdString(save.Path().string()));
            auto* view = dialog->findChild<QTreeView*>("treeView");
            ASSERT_NE(view, nullptr);
            ASSERT_TRUE(WaitUntil([&] {
                const QModelIndex folder = view->model()->index(0, 0, view->rootIndex());
                type = folder.siblingAtColumn(2).data().toString();
                date = folder.siblingAtColumn(3).data().toString();
                return folder.data().toString() == "相册" && !date.isEmpty();
            }));
        },
        "取消");
    PersonClicks(C("chooseFolderButton"));
    ASSERT_TRUE(look.Seen());
    EXPECT_EQ(type, "文件夹");
    EXPECT_FALSE(date.contains(QRegularExpression("[A-Za-z]"))) << date.toStdString();
}

// One tab stop per link, Return follows it; Alt and a letter open a menu.
TEST_F(WindowTest, KeyboardReachesLinksAndMenus) {
    QWindow* handle = window->windowHandle();
    QTest::keyClick(handle, Qt::Key_L, Qt::AltModifier);
    QMenu* menu = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); }, 5s));
    EXPECT_EQ(menu->title(), "登录(&L)");
    QTest::keyClick(menu, Qt::Key_Escape);
    QTest::keyClick(menu, Qt::Key_Escape);

    C("exportLink")->setFocus();
    QTest::keyClick(handle, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), C("filterLink"));
    NextModal look([](QDialog*) {}, "×");
    QTest::keyClick(handle, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return look.Seen(); }));
}

TEST_F(WindowTest, LoginWindowsReplaceEachOther) {
    window->OpenLoginWindow("", false);
    QPointer<LoginWindow> first = window->ModelessLogin();
    ASSERT_TRUE(first);
    window->OpenLoginWindow("", false);
    QApplication::processEvents();
    QTest::qWait(50);
    EXPECT_TRUE(first.isNull()) << "a new login closes the earlier one";
    EXPECT_NE(window->ModelessLogin(), nullptr);
    QLineEdit* qzone = window->AddressBox()->lineEdit();
    qzone->setText("12345");
    // The Qzone login of a typed number opens that number's page.
    window->OnMenuCommand("qzoneLoginAction");
    EXPECT_EQ(window->ModelessLogin()->findChild<QLineEdit*>("loginAddressBox")->text(),
              "https://user.qzone.qq.com/12345");
}

TEST_F(WindowTest, StandardDialogsAndTheAboutBoxSpeakChinese) {
    ASSERT_TRUE(chineseInstalled) << "Debian's qt6-translations-l10n is missing";
    window->messageHook = nullptr;
    window->questionHook = nullptr;
    QStringList buttons;
    {
        // 获取相册 with an empty address: the core's message in Qt's own message box.
        NextModal look(
            [&](QDialog* box) {
                for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
                    buttons << b->text();
                }
            },
            "确定");
        PersonRetypes(window->AddressBox(), " ");
        PersonClicks(C("listButton"));
        ASSERT_TRUE(WaitUntil([&] { return look.Seen() && window->session().listingState == 0; }));
    }
    EXPECT_EQ(buttons, QStringList{"确定"});

    QString aboutText;
    bool aboutIcon = false;
    {
        NextModal look(
            [&](QDialog* box) {
                auto* message = qobject_cast<QMessageBox*>(box);
                ASSERT_NE(message, nullptr);
                aboutText = message->text();
                aboutIcon = !message->iconPixmap().isNull();
            },
            "确定");
        window->MenuAction("aboutAction")->trigger();
        EXPECT_TRUE(look.Seen());
    }
    EXPECT_TRUE(aboutIcon);
    EXPECT_TRUE(aboutText.contains("版本 0.1.0")) << aboutText.toStdString();

    // The file dialog's own words and the yes/no question's buttons.
    QFileDialog files(window.get());
    files.setOption(QFileDialog::DontUseNativeDialog);
    auto* lookIn = files.findChild<QLabel*>("lookInLabel");
    ASSERT_NE(lookIn, nullptr);
    EXPECT_FALSE(lookIn->text().contains("Look in")) << lookIn->text().toStdString();
    QMessageBox question(QMessageBox::Question, "提示", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(question.button(QMessageBox::Yes)->text().startsWith("是"));
    EXPECT_TRUE(question.button(QMessageBox::No)->text().startsWith("否"));
}

TEST_F(WindowTest, StartupShowsItsNoticeAndNoPlaceholders) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        EXPECT_FALSE(label->text().startsWith("state")) << label->objectName().toStdString();
    }
    auto* notice = qobject_cast<QLabel*>(C("noticeLabel"));
    EXPECT_EQ(notice->text(), QString::fromUtf8(kStartupNotice));
    EXPECT_TRUE(notice->isVisible());
    ListQzone();
    EXPECT_FALSE(notice->isVisible()) << "a listing takes the line for its own texts";
}

TEST_F(WindowTest, SelectAllIsUntickedWhenTheTableIsReset) {
    for (const char* name : {"one", "two", "three"}) {
        AddAlbum(window->session(), AlbumRecord{.name = name});
    }
    QApplication::processEvents();
    auto* all = qobject_cast<QCheckBox*>(C("selectAllBox"));
    PersonClicks(all);
    ASSERT_TRUE(all->isChecked());
    EXPECT_EQ(window->Grid()->SelectedAlbums().size(), 3u);
    PersonClicks(C("thumbnailBox"));  // thumbnail mode: a new, unselected table
    ASSERT_TRUE(WaitUntil([this] { return window->Grid()->PassState() == kPassIdle; }));
    EXPECT_FALSE(all->isChecked());
    EXPECT_TRUE(window->Grid()->SelectedAlbums().empty());
    PersonClicks(C("thumbnailBox"));
    PersonClicks(all);
    ASSERT_TRUE(all->isChecked());
    window->Grid()->clearSelection();
    window->Grid()->SetFilterOnce("t");
    EXPECT_FALSE(all->isChecked()) << "a filter redraws the table";
}

TEST_F(WindowTest, ANewListingFreesTheCoversOfTheLastOne) {
    for (const char* id : {"A1", "A2", "A3"}) {
        servers.server.Serve("a1.qpic.cn", std::string("/cover/") + id, PngBytes(Qt::darkGreen),
                             "image/png");
    }
    ListQzone();
    PersonClicks(C("thumbnailBox"));
    ASSERT_TRUE(WaitUntil([this] { return window->Grid()->PassState() == kPassIdle; }));
    EXPECT_EQ(window->Grid()->ThumbnailCount(), 3);
    ListQzone();  // in thumbnail mode: the covers come again, once each
    ASSERT_TRUE(WaitUntil([this] { return window->session().albums.At(2)->thumbSlot >= 0; }));
    EXPECT_EQ(window->Grid()->ThumbnailCount(), 3);
    EXPECT_EQ(window->session().albums.At(2)->thumbSlot, 2);
}

TEST_F(WindowTest, DisabledLinksLookGrey) {
    auto* filter = qobject_cast<QLabel*>(C("filterLink"));
    const auto blue = [](QLabel* label) {
        label->adjustSize();
        return !PixelsWhere(label->grab().toImage(), QRect(0, 0, 1000, 100), [](QRgb p) {
                    return qBlue(p) > qRed(p) + 60;
                }).isEmpty();
    };
    ASSERT_TRUE(filter->isEnabled());
    EXPECT_TRUE(blue(filter)) << "an enabled link is blue";
    PersonClicks(C("thumbnailBox"));  // thumbnail mode: no filter, no find
    ASSERT_FALSE(filter->isEnabled());
    EXPECT_FALSE(blue(filter));
    EXPECT_FALSE(filter->text().contains("<a")) << "not clickable, not underlined";
    PersonClicks(C("thumbnailBox"));
    EXPECT_TRUE(blue(filter));
}

TEST_F(WindowTest, TencentWeiboAddressOnTheClipboardKeepsItsSubSelector) {
    QApplication::clipboard()->setText("http://t.qq.com/bob");
    test::TempDir otherHome;
    MainWindow second(otherHome.Path());
    second.StartUp(false);
    ASSERT_TRUE(WaitUntil([&] { return second.Ready(); }));
    QApplication::clipboard()->clear();
    EXPECT_EQ(qobject_cast<QComboBox*>(second.Control("siteBox"))->currentIndex(), 0);
    EXPECT_EQ(qobject_cast<QComboBox*>(second.Control("subKindBox"))->currentIndex(), 2);
}

TEST_F(WindowTest, FileProcessingHasItsOwnHelpAndIdleItemsAreGrey) {
    window->MenuAction("helpAction")->trigger();
    window->MenuAction("fileHelpAction")->trigger();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_NE(messages[0], messages[1]);
    for (const char* option :
         {"修正图片格式", "修正图片顺序", "生成图片原始名文件", "只生成迅雷下载列表"}) {
        EXPECT_TRUE(messages[1].contains(QString::fromUtf8(option))) << option;
    }
    for (const char* name :
         {"importDownloadFileAction", "exportDownloadFileAction", "exportAddressListAction"}) {
        EXPECT_FALSE(window->MenuAction(name)->isEnabled()) << name;
    }
    qobject_cast<QComboBox*>(C("siteBox"))->setCurrentIndex(11);
    EXPECT_FALSE(window->MenuAction("importDownloadFileAction")->isEnabled())
        << "stays grey on a site change";
}

TEST_F(WindowTest, AnAdaptersLoginLeavesTheUsersLoginWindowOpen) {
    window->MenuAction("customLoginAction")->trigger();  // 自定义登录, modeless by default
    QPointer<LoginWindow> users = window->ModelessLogin();
    ASSERT_TRUE(users);
    bool modalSeen = false;
    bool usersAliveMeanwhile = false;
    NextModal look(
        [&](QDialog* dialog) {
            modalSeen = qobject_cast<LoginWindow*>(dialog) != nullptr;
            usersAliveMeanwhile = users && users->isVisible();
            dialog->close();
        },
        "");
    std::atomic<bool> answered{false};
    std::thread job([&] {
        window->OpenLogin("");  // as a listing asks for a login
        answered = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return look.Seen() && answered; }));
    while (!answered) {  // never leave the job waiting for a dialog nobody sees
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    job.join();
    EXPECT_TRUE(modalSeen);
    EXPECT_TRUE(usersAliveMeanwhile);
    EXPECT_TRUE(users && users->isVisible()) << "the user's login window is still there";
    EXPECT_EQ(window->ModelessLogin(), users.data());
}

TEST_F(WindowTest, LoginBrowserFitsItsScreen) {
    const QRect laptop(0, 0, 1366, 728);  // 1366x768 less its panel
    const QRect placed =
        LoginWindow::FittedGeometry(QSize(940, 760), QRect(193, 24, 980, 680), laptop);
    EXPECT_TRUE(laptop.contains(placed));
    EXPECT_LE(placed.height(), 728 * 9 / 10) << "room for the title bar";
    EXPECT_EQ(placed.width(), 940);
    EXPECT_EQ(placed.center().x(), QRect(193, 24, 980, 680).center().x()) << "over its owner";
    const QRect corner =
        LoginWindow::FittedGeometry(QSize(940, 760), QRect(1200, 600, 300, 200), laptop);
    EXPECT_TRUE(laptop.contains(corner)) << "an owner near the edge keeps it on screen";

    window->MenuAction("customLoginAction")->trigger();
    LoginWindow* login = window->ModelessLogin();
    ASSERT_NE(login, nullptr);
    const QRect screen = login->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(login->frameGeometry()));
    EXPECT_LE(login->height(), screen.height() * 9 / 10);
}

TEST_F(WindowTest, ListTableFillsItsWidthAndRightAlignsCounts) {
    AddAlbum(window->session(), AlbumRecord{.name = "seven", .photoCount = 7});
    AddAlbum(window->session(), AlbumRecord{.name = "thousand", .photoCount = 1234});
    QApplication::processEvents();
    AlbumTable* grid = window->Grid();
    const auto rightEdge = [grid] {
        return grid->horizontalHeader()->sectionViewportPosition(3) +
               grid->horizontalHeader()->sectionSize(3);
    };
    EXPECT_EQ(rightEdge(), grid->viewport()->width()) << "no empty strip right of 备注";
    window->resize(1200, 700);
    QApplication::processEvents();
    EXPECT_EQ(rightEdge(), grid->viewport()->width());
    EXPECT_GT(grid->columnWidth(1), 575) << "the name column took the room";
    for (int r = 0; r < 2; ++r) {
        EXPECT_TRUE(grid->item(r, 2)->textAlignment() & Qt::AlignRight) << r;
    }
    // Both counts end at the same pixel column.
    const QImage shown = grid->viewport()->grab().toImage();
    const QRect seven = PixelsWhere(shown, grid->visualRect(grid->model()->index(0, 2)), IsInk);
    const QRect thousand = PixelsWhere(shown, grid->visualRect(grid->model()->index(1, 2)), IsInk);
    EXPECT_NEAR(seven.right(), thousand.right(), 2);
}

TEST(Splash, StaysUntilStartUpIsDone) {
    test::TempDir home;
    MainWindow window(home.Path());
    std::atomic<bool> release{false};
    window.startupWork = [&release] {
        while (!release) {
            std::this_thread::sleep_for(5ms);
        }
    };
    window.StartUp(true);
    QPointer<SplashWindow> splash = window.Splash();
    ASSERT_TRUE(splash);
    QTest::qWait(1500);  // longer than any fixed splash time would be
    EXPECT_TRUE(splash && splash->isVisible()) << "start-up is not done yet";
    EXPECT_FALSE(window.Ready());
    EXPECT_FALSE(window.isVisible());
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return window.Ready(); }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(WaitUntil([&] { return splash.isNull(); })) << "the splash goes with it";
}

// Not a check: scripts/screenshot.sh runs it to picture the window for the README: the
// listed table, thumbnail mode, and a message box in Chinese.
TEST_F(WindowTest, ScreenshotForTheReadme) {
    const QString folder = qEnvironmentVariable("BRENVIK_SCREENSHOTS");
    if (folder.isEmpty()) {
        GTEST_SKIP() << "set BRENVIK_SCREENSHOTS to a folder";
    }
    const QColor colours[] = {QColor(0x3A, 0x7C, 0xA5), QColor(0xD9, 0x83, 0x4A),
                              QColor(0x6A, 0xA8, 0x4F)};
    for (int i = 0; i < 3; ++i) {
        servers.server.Serve("a1.qpic.cn", "/cover/A" + std::to_string(i + 1), PngBytes(colours[i]),
                             "image/png");
    }
    window->resize(980, 680);
    ListQzone();
    PersonClicksCell(window->Grid(), 0, 1);
    QTest::qWait(300);
    ASSERT_TRUE(window->grab().save(folder + "/screenshot.png", "PNG"));

    PersonClicks(C("thumbnailBox"));
    ASSERT_TRUE(WaitUntil([this] { return window->Grid()->PassState() == kPassIdle; }));
    PersonClicksCell(window->Grid(), 0, 1);
    QTest::qWait(300);
    ASSERT_TRUE(window->grab().save(folder + "/thumbnails.png", "PNG"));

    window->messageHook = nullptr;
    window->saveFileHook = [] { return QString(); };  // the file dialog is cancelled
    NextModal look(
        [&](QDialog* box) {
            QTest::qWait(200);
            ASSERT_TRUE(box->grab().save(folder + "/message.png", "PNG"));
        },
        "确定");
    window->OnExport();
    ASSERT_TRUE(look.Seen());
}

TEST(LoginBrowser, CookiesSetByAPageReachTheFetcher) {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        GTEST_SKIP() << "the browser needs a display (run under Xvfb)";
    }
    CookieStore::Shared().Clear();
    test::TestServer server;
    server.On("", "/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=browser123; Path=/; Max-Age=3600");
        res.set_content("<html><body>logged in</body></html>", "text/html");
    });
    LoginWindow dialog(QString::fromStdString(server.Base() + "/login"), nullptr);
    dialog.show();
    EXPECT_TRUE(WaitUntil([&] { return GetCookies(server.Base() + "/") == "sid=browser123"; }, 30s))
        << GetCookies(server.Base() + "/");
}

TEST(TableText, SearchAndCsv) {
    const TableRows rows = {
        {"序号", "名称"}, {"0001", "abc"}, {"0002", "x"}, {"0003", "ABC"}, {"0004", "123"}};
    EXPECT_EQ(FindTableRow(rows, 1, "abc", {}), 3);
    EXPECT_EQ(FindTableRow(rows, 3, "abc", {}), 1);
    EXPECT_EQ(FindTableRow(rows, 1, "abc", {.matchCase = true}), 1);
    EXPECT_EQ(FindTableRow(rows, 1, "abc", {.forward = false}), 3);
    EXPECT_EQ(FindTableRow(rows, 0, "12", {.wholeCell = true}), -1);
    EXPECT_EQ(FindTableRow(rows, 0, "123", {.wholeCell = true}), 4);
    EXPECT_EQ(FindTableRow(rows, 0, "none", {}), -1);
    EXPECT_EQ(TableCsv({{"h"}}), "");
    EXPECT_EQ(TableCsv({{"h", "h"}, {"a,b", "c"}}), "a','b,c,\r\n");
    EXPECT_EQ(TableCsv({{"h"}, {"say \"hi\" it's"}}), "say \"\"hi\"\" its,\r\n");
}

}  // namespace
}  // namespace brenvik

int main(int argc, char** argv) {
    if (qgetenv("DISPLAY").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            "--disable-gpu --no-sandbox --disable-background-networking");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    brenvik::chineseInstalled = brenvik::InstallChineseTranslations(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
