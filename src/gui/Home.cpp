#include "gui/Home.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "net/CookieStore.h"
#include "net/FolderLock.h"
#include "net/Hosts.h"
#include "session/Messages.h"

namespace brenvik {
namespace {

QPointer<QLabel> gStatusLine;
QLabel* gEarlyNotice = nullptr;
std::atomic<bool> gQuitting{false};

// On the window's thread, which is the one waiting or idle: paints at once.
void ShowHomeWait(const QString& text) {
    if (gStatusLine) {
        gStatusLine->setText(text);
        gStatusLine->repaint();
        return;
    }
    if (!gEarlyNotice) {
        gEarlyNotice = new QLabel;
        gEarlyNotice->setWindowTitle("Brenvik");
        gEarlyNotice->setMargin(20);
    }
    gEarlyNotice->setText(text);
    gEarlyNotice->show();
    gEarlyNotice->raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void WatchHomeLockWaits() {
    SetFolderLockWait({[](const std::filesystem::path& folder) {
                           const QString text =
                               QString::fromUtf8(msg::kHomeInUseFormat)
                                   .replace("%s", QString::fromStdString(folder.string()));
                           auto* app = QCoreApplication::instance();
                           if (app && QThread::currentThread() == app->thread()) {
                               ShowHomeWait(text);
                           } else if (app) {
                               QMetaObject::invokeMethod(
                                   app, [text] { ShowHomeWait(text); }, Qt::QueuedConnection);
                           }
                       },
                       [] { return gQuitting.load(); }});
}

void ShowHomeWaitsIn(QLabel* statusLine) {
    gStatusLine = statusLine;
    gQuitting = false;
    delete gEarlyNotice;
    gEarlyNotice = nullptr;
}

void EndHomeWaits() {
    gQuitting = true;
}

std::filesystem::path PrepareHome() {
    std::filesystem::path home;
    if (const char* explicitHome = std::getenv("BRENVIK_HOME"); explicitHome && *explicitHome) {
        home = explicitHome;
    } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        home = std::filesystem::path(data) / "brenvik";
    } else {
        const char* user = std::getenv("HOME");
        home = std::filesystem::path(user && *user ? user : ".") / ".local" / "share" / "brenvik";
    }
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    for (const auto& problem : HostTable::Shared().LoadOverrides(home / kHostOverrideFile)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    CookieStore::Shared().Open(home / "cookies.txt");
    return home;
}

}  // namespace brenvik
