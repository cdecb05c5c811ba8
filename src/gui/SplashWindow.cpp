#include "gui/SplashWindow.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

#include <cstdlib>

namespace brenvik {

QPixmap SplashWindow::Picture() {
    QPixmap picture(320, 200);
    picture.fill(TransparentColor());
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient gradient(0, 0, 320, 200);
    gradient.setColorAt(0, QColor(0x1F, 0x4E, 0x79));
    gradient.setColorAt(1, QColor(0x2E, 0x8B, 0x57));
    painter.setBrush(gradient);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRect(0, 0, 320, 200), 24, 24);
    painter.setPen(QColor(255, 255, 255, 60));
    for (int x = 0; x < 320; x += 40) {
        painter.drawLine(x, 180, x + 30, 150);
    }
    return picture;
}

SplashWindow::SplashWindow(QWidget* owner, const QString& text, int style)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::Tool),
      picture_(Picture()),
      text_(text),
      style_(style) {
    setObjectName("splash");
    setFixedSize(picture_.size());
    setMask(picture_.createMaskFromColor(TransparentColor(), Qt::MaskInColor));
    setFocusPolicy(Qt::StrongFocus);
    if (style_ & kCenterScreen) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->geometry().center() - rect().center());
        }
    }
}

void SplashWindow::Show() {
    if (style_ & kFadeIn) {
        setWindowOpacity(0.0);
        show();
        auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
        fade->setDuration(500);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        show();
    }
    activateWindow();
    setFocus();
}

void SplashWindow::Hide() {
    if (style_ & kFadeOut) {
        auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
        fade->setDuration(200);
        fade->setStartValue(windowOpacity());
        fade->setEndValue(0.0);
        connect(fade, &QPropertyAnimation::finished, this, &QWidget::deleteLater);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        deleteLater();
    }
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPointSize(14);
    painter.setFont(font);
    painter.drawText(textRect_, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text_);
}

void SplashWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        std::exit(0);  // Escape on the splash ends the program at once
    }
    if (style_ & kHideOnPress) {
        Hide();
    }
}

void SplashWindow::mousePressEvent(QMouseEvent*) {
    if (style_ & kHideOnPress) {
        Hide();
    }
}

}  // namespace brenvik
