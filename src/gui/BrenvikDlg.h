// The main window: site and address, the album table, the two jobs, menus, dialogs.
// It is also the core's front end: job threads reach it through queued calls (blocking
// ones for messages, questions and logins), never by touching widgets.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/FrontEnd.h"
#include "app/Session.h"
#include "gui/SplashScreenEx.h"

namespace brenvik {

class CComboBox2;
class CMyGridCtrl;
class CDlgFind;
class CDlgWebOpen;
class CDownloadLog;

// Private messages of the window, kept by their numbers.
inline constexpr int UM_WORKER_NOTICE = 1437;
inline constexpr int UM_OPEN_LOGIN = 1438;
inline constexpr int UM_STARTUP_DONE = 1439;

// The line under the title that greets the user at every start.
inline constexpr const char* kStartupNotice =
    "提示：需要登录才能看到的相册，请先在“登录”菜单里登录，再获取相册。";

class CBrenvikDlg : public QMainWindow, public FrontEnd {
    Q_OBJECT
  public:
    explicit CBrenvikDlg(std::filesystem::path home, QWidget* parent = nullptr);
    ~CBrenvikDlg() override;

    // Shows the splash (unless told not to) and finishes start-up.
    void StartUp(bool withSplash);
    bool Ready() const { return session_.ready; }
    Session& session() { return session_; }

    // FrontEnd, callable from any thread.
    void ShowMessage(const std::string& text) override;
    void Notice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void OpenLogin(const std::string& address) override;
    void SetControlText(int controlId, const std::string& text) override;
    void AlbumAdded(const ST_PERLISTRECORD& album) override;
    void WorkerNotice(int seconds, int count) override;
    void ListingLook(bool listing) override;
    void AutoDownload() override;
    void DownloadLook(bool downloading) override;
    void OpenFolder(const std::string& folder) override;
    void DownloadFinished(const DownloadJobOutcome& outcome) override;

    // For tests and scripts: controls by their ids, menu commands by theirs.
    QWidget* Control(int id) const;
    QAction* MenuAction(int id) const;
    CMyGridCtrl* Grid() const { return grid_; }
    CComboBox2* AddressBox() const { return addressBox_; }
    CComboBox2* SavePathBox() const { return savePathBox_; }
    CDlgFind* FindPanel() const { return findPanel_; }
    CDlgWebOpen* ModelessLogin() const;
    // The 下载记录 view, made when first needed.
    CDownloadLog* DownloadLog();
    // Replace the modal boxes (tests run without anyone to click them).
    std::function<void(const QString&)> messageHook;
    std::function<bool(const QString&)> questionHook;
    // Answers the question asked when the window is closed during a job (true: stop and quit).
    std::function<bool()> closeQuestionHook;
    std::function<QString()> saveFileHook;
    std::function<void(const QString&)> openFolderHook;
    // Runs on the start-up thread before the site list is gathered (tests hold start-up here).
    std::function<void()> startupWork;
    // Waits until no job thread runs.
    void JoinJobs();
    CSplashScreenEx* Splash() const { return splash_; }

    // The window's own actions, as the buttons and links trigger them.
    void OnGetAlbums();
    void OnDownload();
    void OnExport();
    void OnFilter();
    void OnFind();
    void OnThumbnailToggled();
    void OnMenuCommand(int id);
    void ImportBrowserLogin(const std::string& browser);
    void OpenLoginWindow(const QString& address, bool modal);
    void SetSavePath(const QString& path, bool remember);
    void ApplyAddressRule(const QString& text);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void BuildMenu();
    void OnSiteChanged(int index);
    void FinishStartUp(const QStringList& siteNames);
    void ShowAbout();
    void OpenModelessLogin(const QString& address);
    void RunModalLogin(const QString& address);
    void RefreshMenuChecks();
    void RefreshHistories();
    void ShowMessageNow(const QString& text);
    bool AskNow(const QString& text);
    bool JobRunning() const;
    bool AskStopAndQuit();
    void FlushNewRows();
    QString LoginAddress(int id) const;
    QString DefaultSavePath() const;
    void Register(int id, QWidget* widget);
    // Runs f on the window's thread and waits for it; at once when already there.
    template <class F>
    void CallBlocking(F f);

    Session session_;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> actions_;
    QLabel* status1_ = nullptr;
    QLabel* status2_ = nullptr;
    QLabel* notice_ = nullptr;
    QComboBox* siteBox_ = nullptr;
    QComboBox* subBox_ = nullptr;
    CComboBox2* addressBox_ = nullptr;
    CComboBox2* savePathBox_ = nullptr;
    QPushButton* getButton_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QGroupBox* frame_ = nullptr;
    CMyGridCtrl* grid_ = nullptr;
    QCheckBox* thumbBox_ = nullptr;
    QCheckBox* selectAllBox_ = nullptr;
    QLabel* exportLink_ = nullptr;
    QLabel* filterLink_ = nullptr;
    QLabel* findLink_ = nullptr;
    CDlgFind* findPanel_ = nullptr;
    QPointer<CDlgWebOpen> modelessLogin_;
    CDownloadLog* downloadLog_ = nullptr;
    // Set once the person chose to quit during a job: nothing may show a box any more.
    std::atomic<bool> closing_{false};
    QPointer<CSplashScreenEx> splash_;
    bool loginMethod1_ = true;

    std::thread startupThread_;
    std::thread listThread_;
    std::thread downloadThread_;
    std::mutex pendingMutex_;
    std::vector<int> pendingRows_;
};

}  // namespace brenvik
