// The login browser: the user logs in by hand; cookies flow between the browser and
// the core's cookie store both ways, so later fetches carry the login.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

class QWebEngineView;
class QWebEngineProfile;
class QNetworkCookie;

namespace brenvik {

class LoginWindow : public QDialog {
    Q_OBJECT
  public:
    LoginWindow(const QString& startAddress, QWidget* parent);
    ~LoginWindow() override;

    void Navigate();
    QWebEngineView* View() const { return view_; }

    // A browser cookie as a Netscape cookies.txt line.
    static std::string NetscapeLine(const QNetworkCookie& cookie);
    // Where the window opens: its wanted size cut to what the screen has free, centred on
    // its owner, moved wholly onto the screen.
    static QRect FittedGeometry(QSize wanted, QRect owner, QRect available);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void LoadStoreCookies();

    QLineEdit* address_;
    QPushButton* open_;
    QWebEngineProfile* profile_;
    QWebEngineView* view_;
};

}  // namespace brenvik
