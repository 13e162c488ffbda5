#include "SplashWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cstring>

#include "Toolkit.h"

TSplashWindow::TSplashWindow(const QString& imagePath, int displayMs, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), displayMs_(displayMs) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Width, Height);
    if (!imagePath.isEmpty()) picture_ = LoadPicture(imagePath);
    if (picture_.isNull()) {
        picture_ = BuiltInPicture();
        builtIn_ = true;
    }
}

void TSplashWindow::ShowNow() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(Width / 2, Height / 2));
    }
    show();
    // Start-up goes on for a while before the event loop runs: paint now, not then.
    repaint();
    QTimer::singleShot(displayMs_, this, &QWidget::close);
}

QImage TSplashWindow::BuiltInPicture() { return QImage(QStringLiteral(":/quillo/splash.png")); }

QImage TSplashWindow::LoadPicture(const QString& path) {
    QImage image(path);
    if (!image.isNull()) return image;

    // Formats Qt has no reader for may still be ones the toolkit reads.
    BITMAPHANDLE b;
    const QByteArray name = path.toLocal8Bit();
    if (L_LoadFile(name.constData(), &b, 24, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE, nullptr,
                   nullptr) != SUCCESS)
        return QImage();
    QImage bgr(b.Width, b.Height, QImage::Format_BGR888);
    if (!bgr.isNull()) {
        const size_t rowBytes = size_t(b.Width) * 3;
        for (int y = 0; y < b.Height; ++y) std::memcpy(bgr.scanLine(y), L_RowPtr(&b, y), rowBytes);
    }
    L_FreeBitmap(&b);
    return bgr.convertToFormat(QImage::Format_RGB32);
}

void TSplashWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    // Larger pictures shrink to fit and smaller ones stay sharp in the middle.
    QSize size = picture_.size();
    if (size.width() > Width || size.height() > Height)
        size.scale(Width, Height, Qt::KeepAspectRatio);
    const QRect target(QPoint((Width - size.width()) / 2, (Height - size.height()) / 2), size);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, picture_);
}

void TSplashWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
    close();
}
