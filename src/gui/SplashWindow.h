// The splash window shown while the window starts: the program's own picture, shaped by
// its transparent colour, with one line of white text; fades where the platform can.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace brenvik {

class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    // Style bits.
    static constexpr int kFadeIn = 0x01;
    static constexpr int kFadeOut = 0x02;
    static constexpr int kCenterScreen = 0x08;
    static constexpr int kHideOnPress = 0x20;

    SplashWindow(QWidget* owner, const QString& text, int style);

    void Show();
    void Hide();
    // The picture, drawn by the program itself.
    static QPixmap Picture();
    static QColor TransparentColor() { return QColor(0xD4, 0x78, 0x78); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QPixmap picture_;
    QString text_;
    QRect textRect_{30, 50, 261, 110};
    int style_;
};

}  // namespace brenvik
