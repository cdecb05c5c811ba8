// brenvik: the desktop window.
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <cstdlib>

#include "gui/Chinese.h"
#include "gui/Home.h"
#include "gui/MainWindow.h"
#include "net/CookieStore.h"
#include "net/Hosts.h"

int main(int argc, char** argv) {
    // The login browser's sandbox cannot run as root (as in containers and CI).
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Brenvik");
    // Ties the window to its menu entry (its icon on Wayland docks and task bars).
    QGuiApplication::setDesktopFileName("org.brenvik.Brenvik");
    brenvik::InstallChineseTranslations(app);
    brenvik::WatchHomeLockWaits();
    const std::filesystem::path home = brenvik::PrepareHome();
    brenvik::MainWindow window(home);
    // `brenvik ADDRESS` (the menu entry's %u): Qt has taken its own options already.
    if (const QStringList args = QApplication::arguments(); args.size() > 1) {
        window.SetStartAddress(args.at(1));
    }
    window.StartUp(std::getenv("BRENVIK_NO_SPLASH") == nullptr);
    return QApplication::exec();
}
