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

#include "gui/SplashWindow.h"
#include "session/FrontEnd.h"
#include "session/Session.h"

namespace brenvik {

class HistoryComboBox;
class AlbumTable;
class FindBar;
class LoginWindow;
class CDownloadLog;

// Private messages of the window, kept by their numbers.
inline constexpr int UM_WORKER_NOTICE = 1437;
inline constexpr int UM_OPEN_LOGIN = 1438;
inline constexpr int UM_STARTUP_DONE = 1439;

// The line under the title that greets the user at every start.
inline constexpr const char* kStartupNotice =
    "提示：需要登录才能看到的相册，请先在“登录”菜单里登录，再获取相册。";

class MainWindow : public QMainWindow, public FrontEnd {
    Q_OBJECT
  public:
    explicit MainWindow(std::filesystem::path home, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the splash (unless told not to) and finishes start-up.
    void StartUp(bool withSplash);
    // An address given on the command line: shown in the address box and listed as soon
    // as the window is ready. Call before StartUp.
    void SetStartAddress(const QString& address) { startAddress_ = address; }
    bool Ready() const { return session_.ready; }
    Session& session() { return session_; }

    // FrontEnd, callable from any thread.
    void ShowMessage(const std::string& text) override;
    void Notice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void OpenLogin(const std::string& address) override;
    void SetControlText(int controlId, const std::string& text) override;
    void AlbumAdded(const AlbumRecord& album) override;
    void WorkerNotice(int seconds, int count) override;
    void ListingLook(bool listing) override;
    void AutoDownload() override;
    void DownloadLook(bool downloading) override;
    void OpenFolder(const std::string& folder) override;
    void DownloadFinished(const DownloadJobOutcome& outcome) override;

    // For tests and scripts: controls by their ids, menu commands by theirs.
    QWidget* Control(const QString& name) const;
    QAction* MenuAction(const QString& name) const;
    AlbumTable* Grid() const { return grid_; }
    HistoryComboBox* AddressBox() const { return addressBox_; }
    HistoryComboBox* SavePathBox() const { return savePathBox_; }
    FindBar* FindPanel() const { return findPanel_; }
    LoginWindow* ModelessLogin() const;
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
    SplashWindow* Splash() const { return splash_; }

    // The window's own actions, as the buttons and links trigger them.
    void OnGetAlbums();
    void OnDownload();
    void OnExport();
    void OnFilter();
    void OnFind();
    void OnThumbnailToggled();
    void OnMenuCommand(const std::string& name);
    void ImportBrowserLogin(const std::string& browser);
    // The 关注 menu: follow the listed owner, the list of followed owners, 全部更新.
    void FollowListed(bool pickedOnly);
    // The two settings dialogs of the chosen site.
    void EditDownloadSettings(int site);
    void EditFileNameSettings(int site);
    void ShowFollowList();
    void StartUpdate();
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
    QString LoginAddress(std::string_view action) const;
    QString DefaultSavePath() const;
    // The save box's folder made absolute (where the dialogs open); empty when none.
    QString CurrentSavePath() const;
    void Register(const char* name, QWidget* widget);
    static QString ControlName(int controlId);
    // Runs f on the window's thread and waits for it; at once when already there.
    template <class F>
    void CallBlocking(F f);

    Session session_;
    std::map<QString, QWidget*> controls_;
    std::map<QString, QAction*> actions_;
    QLabel* status1_ = nullptr;
    QLabel* status2_ = nullptr;
    QLabel* notice_ = nullptr;
    QComboBox* siteBox_ = nullptr;
    QComboBox* subBox_ = nullptr;
    HistoryComboBox* addressBox_ = nullptr;
    HistoryComboBox* savePathBox_ = nullptr;
    QPushButton* getButton_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QGroupBox* frame_ = nullptr;
    AlbumTable* grid_ = nullptr;
    QCheckBox* thumbBox_ = nullptr;
    QCheckBox* selectAllBox_ = nullptr;
    QLabel* exportLink_ = nullptr;
    QLabel* filterLink_ = nullptr;
    QLabel* findLink_ = nullptr;
    FindBar* findPanel_ = nullptr;
    QPointer<LoginWindow> modelessLogin_;
    CDownloadLog* downloadLog_ = nullptr;
    // Set once the person chose to quit during a job: nothing may show a box any more.
    std::atomic<bool> closing_{false};
    QPointer<SplashWindow> splash_;
    bool loginMethod1_ = true;

    std::thread startupThread_;
    QString startAddress_;
    std::thread listThread_;
    std::thread downloadThread_;
    std::mutex pendingMutex_;
    std::vector<int> pendingRows_;
};

}  // namespace brenvik
