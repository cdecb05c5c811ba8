// The real window, driven as a person would: typing, clicking, menus, dialogs, and the
// login browser, against local servers.
#include <QApplication>
#include <QBuffer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/Session.h"
#include "app/TableText.h"
#include "download/Collect.h"
#include "gui/BrenvikDlg.h"
#include "gui/ComboBox2.h"
#include "gui/Dialogs.h"
#include "gui/DlgWebOpen.h"
#include "gui/MyGridCtrl.h"
#include "net/CookieStore.h"
#include "net/StringCtrl.h"
#include "net/URLSource2.h"
#include "sites/QzoneServers.h"
#include "support/LocalSites.h"
#include "support/TestServer.h"

namespace brenvik {
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

        window = std::make_unique<CBrenvikDlg>(home.Path());
        window->messageHook = [this](const QString& text) { messages << text; };
        window->questionHook = [this](const QString& text) {
            questions << text;
            return answer;
        };
        window->openFolderHook = [this](const QString& folder) { opened << folder; };
        window->StartUp(false);
        EXPECT_TRUE(WaitUntil([this] { return window->Ready(); }));
        window->SavePathBox()->SetText(QString::fromStdString(save.Path().string()));
    }
    ~WindowTest() override {
        window.reset();
        CookieStore::Shared().Clear();
    }
    QWidget* C(int id) { return window->Control(id); }
    void Click(int id) { QTest::mouseClick(C(id), Qt::LeftButton); }
    void ListQzone() {
        window->AddressBox()->SetText("12345");
        Click(1004);
        ASSERT_TRUE(WaitUntil(
            [this] { return Text(C(1004)) == "获取相册" && window->session().listingState == 0; }));
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
    std::unique_ptr<CBrenvikDlg> window;
    QStringList messages;
    QStringList questions;
    QStringList opened;
    bool answer = false;
};

TEST_F(WindowTest, ListingAndDownloadAsAPersonSeesThem) {
    EXPECT_FALSE(C(1005)->isEnabled()) << "nothing to download before a listing";
    servers.server.On("r.qzone.qq.com", "/GetRoute",
                      [this](const httplib::Request&, httplib::Response& res) {
                          servers.server.Stall(400ms);
                          res.set_content(servers.RouteAnswer(), "application/json");
                      });
    window->AddressBox()->SetText("12345");
    Click(1004);
    EXPECT_TRUE(WaitUntil([this] { return Text(C(1004)) == "终止获取"; }));
    EXPECT_FALSE(C(1002)->isEnabled());
    EXPECT_FALSE(C(1001)->isEnabled());
    EXPECT_EQ(Text(C(1009)), "正在获取相册列表，请稍等...");
    ASSERT_TRUE(WaitUntil([this] { return Text(C(1004)) == "获取相册"; }));
    EXPECT_TRUE(C(1005)->isEnabled());
    EXPECT_EQ(Text(C(1011)), "相册列表(共3个)");
    EXPECT_EQ(Text(C(1009)), "获取相册列表完成，共3个");
    CMyGridCtrl* grid = window->Grid();
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->item(0, 0)->text(), "0001");
    EXPECT_EQ(grid->item(0, 1)->text(), "旅行");
    EXPECT_EQ(grid->item(0, 2)->text(), "   6");
    EXPECT_EQ(grid->item(1, 3)->text(), "私密相册");
    EXPECT_EQ(grid->item(2, 3)->text(), "加密相册");

    servers.imageDelayMs = 300;
    grid->selectRow(0);
    Click(1005);
    EXPECT_TRUE(WaitUntil([this] { return Text(C(1005)) == "终止下载"; }));
    EXPECT_FALSE(C(1004)->isEnabled());
    EXPECT_FALSE(C(1000)->isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return Text(C(1005)) == "下载"; }));
    EXPECT_EQ(Text(C(1009)), "下载完毕");
    EXPECT_TRUE(C(1004)->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(save / "旅行" / "照片5.jpg"));
    EXPECT_EQ(opened.size(), 1) << "the folder opens after a download by default";
}

TEST_F(WindowTest, StopPaths) {
    ListQzone();
    servers.imageDelayMs = 500;
    window->Grid()->selectRow(0);
    Click(1005);
    ASSERT_TRUE(WaitUntil([this] { return servers.imageRequests >= 1; }));
    Click(1005);  // the stop command
    ASSERT_TRUE(WaitUntil([this] { return Text(C(1005)) == "下载"; }));
    EXPECT_LT(servers.imageRequests, 6);
    EXPECT_FALSE(std::filesystem::exists(save / "旅行" / "pic.zvt"));
    EXPECT_EQ(window->session().downloadState, kDownloadIdle);

    // A listing stopped before it ends still reports what it found.
    servers.server.On("r.qzone.qq.com", "/GetRoute",
                      [this](const httplib::Request&, httplib::Response& res) {
                          servers.server.Stall(600ms);
                          res.set_content(servers.RouteAnswer(), "application/json");
                      });
    Click(1004);
    ASSERT_TRUE(WaitUntil([this] { return Text(C(1004)) == "终止获取"; }));
    Click(1004);
    ASSERT_TRUE(WaitUntil([this] { return Text(C(1004)) == "获取相册"; }));
    EXPECT_TRUE(Text(C(1009)).startsWith("获取相册列表完成"));
}

TEST_F(WindowTest, MenuTogglesAreStoredPerSite) {
    auto* site = qobject_cast<QComboBox*>(C(1002));
    site->setCurrentIndex(5);
    window->MenuAction(32800)->trigger();
    EXPECT_TRUE(window->MenuAction(32800)->isChecked());
    EXPECT_EQ(SoftDat().save[5].flags & kFlagFixFormat, kFlagFixFormat);
    EXPECT_EQ(SoftDat().save[0].flags & kFlagFixFormat, 0);
    site->setCurrentIndex(0);
    QApplication::processEvents();
    EXPECT_FALSE(window->MenuAction(32800)->isChecked()) << "check marks follow the site";
    EXPECT_FALSE(window->MenuAction(32776)->isEnabled());
    site->setCurrentIndex(7);
    EXPECT_TRUE(window->MenuAction(32776)->isEnabled());
}

TEST_F(WindowTest, ShopOptionsExcludeEachOther) {
    auto* site = qobject_cast<QComboBox*>(C(1002));
    EXPECT_FALSE(window->MenuAction(32808)->isEnabled());
    site->setCurrentIndex(11);
    EXPECT_TRUE(window->MenuAction(32808)->isEnabled());
    EXPECT_TRUE(window->MenuAction(32814)->isEnabled());
    window->MenuAction(32808)->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages),
              kFlagShopMainImages);
    window->MenuAction(32814)->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages),
              kFlagShopDescriptionImages);
    EXPECT_FALSE(window->MenuAction(32808)->isChecked());
    window->MenuAction(32814)->trigger();
    EXPECT_EQ(SoftDat().save[11].flags & (kFlagShopMainImages | kFlagShopDescriptionImages), 0);
}

TEST_F(WindowTest, TypedAddressesPickTheSite) {
    auto* site = qobject_cast<QComboBox*>(C(1002));
    auto* sub = qobject_cast<QComboBox*>(C(1035));
    QLineEdit* edit = window->AddressBox()->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, "http://detail.zol.com.cn/1.html");
    EXPECT_EQ(site->currentIndex(), 9);
    EXPECT_FALSE(sub->isVisible());
    edit->clear();
    QTest::keyClicks(edit, "http://t.qq.com/bob");
    EXPECT_EQ(site->currentIndex(), 0);
    EXPECT_EQ(sub->currentIndex(), 2);
}

TEST_F(WindowTest, HistoryDropDownFiltersAsYouType) {
    CComboBox2* box = window->AddressBox();
    box->SetEntries({"http://a.com/Foo", "http://b.com/bar", "abczvt?!oxffhidden", ""});
    QLineEdit* edit = box->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, "FOO");
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), "http://a.com/Foo");
    EXPECT_EQ(box->Text(), "FOO") << "the typed text stays";
    edit->clear();
    QTest::keyClicks(edit, "abc");
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), "abc");
    box->hidePopup();
    box->showPopup();
    EXPECT_EQ(box->count(), 3) << "the arrow shows every entry";
    box->hidePopup();
}

TEST_F(WindowTest, ThumbnailsSixToARow) {
    Session& session = window->session();
    for (int i = 0; i < 13; ++i) {
        AddAlbum(session, ST_PERLISTRECORD{.name = "album " + std::to_string(i)});
    }
    QApplication::processEvents();
    window->Grid()->StartThumbnailPass();
    CMyGridCtrl* grid = window->Grid();
    EXPECT_EQ(grid->rowCount(), 3);
    ASSERT_NE(grid->item(2, 0), nullptr);
    EXPECT_EQ(grid->item(2, 0)->text(), "13.album 12");
    EXPECT_EQ(grid->rowHeight(2), kThumbRowHeight);
    grid->item(0, 1)->setSelected(true);
    grid->item(2, 0)->setSelected(true);
    EXPECT_EQ(grid->SelectedAlbums(), (std::vector<int>{1, 12}));
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
    AddAlbum(session,
             ST_PERLISTRECORD{.name = "with cover", .coverUrl = covers.Base() + "/cover.png"});
    AddAlbum(session,
             ST_PERLISTRECORD{.name = "broken", .coverUrl = covers.Base() + "/missing.png"});
    QApplication::processEvents();
    auto* thumbs = qobject_cast<QCheckBox*>(C(1014));
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
    EXPECT_FALSE(C(1036)->isEnabled()) << "no filter in thumbnail mode";

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
            AddAlbum(session, ST_PERLISTRECORD{.name = "album " + std::to_string(i)});
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
        AddAlbum(session, ST_PERLISTRECORD{.name = name});
    }
    QApplication::processEvents();
    CMyGridCtrl* grid = window->Grid();
    ASSERT_EQ(grid->rowCount(), 4);
    window->OnFind();
    CDlgFind* panel = window->FindPanel();
    ASSERT_NE(panel, nullptr);
    panel->findChild<QLineEdit*>("ctl1639")->setText("SPRING");
    grid->setCurrentCell(0, 0);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 3);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 0) << "wraps to the first match";
    panel->findChild<QCheckBox*>("ctl1033")->setChecked(true);
    panel->Search(true);
    EXPECT_EQ(grid->currentRow(), 0) << "match case: only 'Spring' qualifies";
    panel->findChild<QLineEdit*>("ctl1639")->setText("  ");
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
    AddAlbum(window->session(), ST_PERLISTRECORD{.name = "a,b \"q\" it's", .photoCount = 3});
    AddAlbum(window->session(), ST_PERLISTRECORD{.name = "中文", .access = kAccessFriends});
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

TEST_F(WindowTest, SettingsDialogsValidate) {
    ST_DOWNPARAM params{0, 0, 5, 30};
    CDlgDownSet down(params, window.get());
    QStringList shown;
    down.showMessage = [&](const QString& text) { shown << text; };
    down.findChild<QLineEdit*>("ctl1002")->setText("16");
    down.Accept();
    EXPECT_EQ(shown, QStringList{"参数错误"});
    EXPECT_EQ(params.threads, 5);
    down.findChild<QLineEdit*>("ctl1002")->setText("15");
    down.findChild<QLineEdit*>("ctl1003")->setText("9");
    down.Accept();
    EXPECT_EQ(shown.size(), 2);
    down.findChild<QLineEdit*>("ctl1003")->setText("10");
    down.Accept();
    EXPECT_EQ(params.threads, 15);
    EXPECT_EQ(params.timeout, 10);
    EXPECT_EQ(down.result(), QDialog::Accepted);

    ST_SAVESET rules;
    CDlgSaveSet saveSet(rules, window.get());
    saveSet.findChild<QLineEdit*>("ctl1000")->setText(QString(45, 'p'));
    saveSet.findChild<QRadioButton*>("ctl1018")->setChecked(true);
    saveSet.findChild<QRadioButton*>("ctl1020")->setChecked(true);
    saveSet.Accept();
    EXPECT_EQ(rules.filePrefix, std::string(38, 'p'));
    EXPECT_EQ(rules.namingMode, kNameByAddress);
    EXPECT_EQ(rules.folderMode, kFolderNone);
    EXPECT_TRUE(
        CDlgSaveSet::HelpText().endsWith("?9:相册在列表中的序号(格式为：0001,0002,0003...)"));
}

TEST_F(WindowTest, LoginWindowsReplaceEachOther) {
    window->OpenLoginWindow("", false);
    QPointer<CDlgWebOpen> first = window->ModelessLogin();
    ASSERT_TRUE(first);
    window->OpenLoginWindow("", false);
    QApplication::processEvents();
    QTest::qWait(50);
    EXPECT_TRUE(first.isNull()) << "a new login closes the earlier one";
    EXPECT_NE(window->ModelessLogin(), nullptr);
    QLineEdit* qzone = window->AddressBox()->lineEdit();
    qzone->setText("12345");
    // The Qzone login of a typed number opens that number's page.
    window->OnMenuCommand(32781);
    EXPECT_EQ(window->ModelessLogin()->findChild<QLineEdit*>("ctl1001")->text(),
              "https://user.qzone.qq.com/12345");
}

// Not a check: scripts/screenshot.sh runs it to picture the window for the README.
TEST_F(WindowTest, ScreenshotForTheReadme) {
    const QString target = qEnvironmentVariable("BRENVIK_SCREENSHOT");
    if (target.isEmpty()) {
        GTEST_SKIP() << "set BRENVIK_SCREENSHOT to a PNG path";
    }
    ListQzone();
    window->Grid()->selectRow(0);
    QApplication::processEvents();
    QTest::qWait(300);
    ASSERT_TRUE(window->grab().save(target, "PNG"));
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
    CDlgWebOpen dialog(QString::fromStdString(server.Base() + "/login"), nullptr);
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
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
