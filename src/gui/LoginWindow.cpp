#include "gui/LoginWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkCookie>
#include <QResizeEvent>
#include <QScreen>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>

#include "net/CookieStore.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr int kButtonGap = 5;
constexpr QSize kWantedSize(940, 760);
// The part of the free screen the window may take: room is left for its frame and title.
constexpr int kScreenPercent = 90;

QNetworkCookie FromNetscapeLine(const std::string& line) {
    std::string text = line;
    bool httpOnly = false;
    if (text.starts_with("#HttpOnly_")) {
        httpOnly = true;
        text.erase(0, 10);
    }
    Pieces fields;
    SplitAll(text, "\t", fields);
    QNetworkCookie cookie;
    if (fields.size() != 7) {
        return cookie;
    }
    cookie.setDomain(QString::fromStdString(fields[0]));
    cookie.setPath(QString::fromStdString(fields[2]));
    cookie.setSecure(fields[3] == "TRUE");
    const long long expires = std::atoll(fields[4].c_str());
    if (expires > 0) {
        cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(expires));
    }
    cookie.setName(QByteArray::fromStdString(fields[5]));
    cookie.setValue(QByteArray::fromStdString(fields[6]));
    cookie.setHttpOnly(httpOnly);
    return cookie;
}

}  // namespace

std::string LoginWindow::NetscapeLine(const QNetworkCookie& cookie) {
    const std::string domain = cookie.domain().toStdString();
    const bool subdomains = domain.starts_with(".");
    const long long expires =
        cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
    return (cookie.isHttpOnly() ? "#HttpOnly_" : "") + domain + "\t" +
           (subdomains ? "TRUE" : "FALSE") + "\t" +
           (cookie.path().isEmpty() ? "/" : cookie.path().toStdString()) + "\t" +
           (cookie.isSecure() ? "TRUE" : "FALSE") + "\t" + std::to_string(expires) + "\t" +
           cookie.name().toStdString() + "\t" + cookie.value().toStdString();
}

LoginWindow::LoginWindow(const QString& startAddress, QWidget* parent) : QDialog(parent) {
    setObjectName("dlgWebOpen");
    setWindowTitle("登录成功后手动关闭对话框");
    setSizeGripEnabled(true);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        const QRect owner = parent && parent->isVisible() ? parent->frameGeometry() : available;
        setGeometry(FittedGeometry(kWantedSize, owner, available));
    } else {
        resize(kWantedSize);
    }
    auto* label = new QLabel("网址：", this);
    label->move(4, 8);
    address_ = new QLineEdit(this);
    address_->setObjectName("loginAddressBox");
    open_ = new QPushButton("打开", this);
    open_->setObjectName("openButton");
    open_->setDefault(true);
    open_->resize(64, 28);
    // A browser profile of its own: the core's cookie store is the one that counts.
    profile_ = new QWebEngineProfile(this);
    view_ = new QWebEngineView(this);
    view_->setObjectName("browserView");
    view_->setPage(new QWebEnginePage(profile_, view_));
    QWebEngineCookieStore* cookies = profile_->cookieStore();
    connect(cookies, &QWebEngineCookieStore::cookieAdded, this,
            [](const QNetworkCookie& cookie) { CookieStore::Shared().Put(NetscapeLine(cookie)); });
    connect(cookies, &QWebEngineCookieStore::cookieRemoved, this, [](const QNetworkCookie& cookie) {
        CookieStore::Shared().Remove(cookie.domain().toStdString(), cookie.path().toStdString(),
                                     cookie.name().toStdString());
    });
    LoadStoreCookies();
    connect(open_, &QPushButton::clicked, this, &LoginWindow::Navigate);
    connect(address_, &QLineEdit::returnPressed, this, &LoginWindow::Navigate);

    if (!startAddress.isEmpty()) {
        address_->setText(startAddress);
        Navigate();
    } else {
        address_->setText(QApplication::clipboard()->text().trimmed());
    }
}

QRect LoginWindow::FittedGeometry(QSize wanted, QRect owner, QRect available) {
    const QSize room(available.width() * kScreenPercent / 100,
                     available.height() * kScreenPercent / 100);
    QRect placed(QPoint(0, 0), wanted.boundedTo(room));
    placed.moveCenter(owner.center());
    placed.moveLeft(std::clamp(placed.left(), available.left(),
                               available.left() + available.width() - placed.width()));
    placed.moveTop(std::clamp(placed.top(), available.top(),
                              available.top() + available.height() - placed.height()));
    return placed;
}

LoginWindow::~LoginWindow() {
    // The page must go before its profile.
    delete view_;
}

void LoginWindow::LoadStoreCookies() {
    for (const std::string& line : CookieStore::Shared().Lines()) {
        const QNetworkCookie cookie = FromNetscapeLine(line);
        if (!cookie.name().isEmpty()) {
            profile_->cookieStore()->setCookie(cookie);
        }
    }
}

void LoginWindow::Navigate() {
    view_->load(QUrl::fromUserInput(address_->text().trimmed()));
}

void LoginWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int cx = event->size().width();
    const int cy = event->size().height();
    const int top = 34;
    view_->setGeometry(0, top, cx, cy - top);
    open_->move(cx - open_->width(), 2);
    address_->setGeometry(54, 4, open_->x() - kButtonGap - 54, 24);
}

}  // namespace brenvik
