// Draws the program's own pictures: the application and document icons, the built-in splash
// picture and the layers of the sample image. The PNGs it writes are kept in the repository;
// run it again only to change them:
//
//   g++ -std=c++20 -fPIC data/artwork/MakeArtwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-artwork
//   QT_QPA_PLATFORM=offscreen /tmp/make-artwork data /tmp/sample-layers
//   cd /tmp/sample-layers && "$OLDPWD"/build/quillo-tool stack "$OLDPWD"/data/sample.qlx Background
//       "Rolling hills@0,250" Sun@450,40 Cloud@90,70 Title@20,20    (one line)
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kInk(28, 52, 84);
const QColor kTeal(32, 128, 140);
const QColor kSand(242, 204, 128);
const QColor kCoral(232, 110, 90);

// Three offset sheets: the picture of a layered image used on every icon.
void DrawSheets(QPainter& p, const QRectF& box) {
    const qreal w = box.width() * 0.56, h = box.height() * 0.56;
    const qreal step = box.width() * 0.14;
    const QColor colours[] = {kSand, kCoral, QColor(250, 250, 246)};
    for (int i = 0; i < 3; ++i) {
        const QRectF sheet(box.left() + step * (2 - i) * 0.9 + box.width() * 0.08,
                           box.top() + step * i * 0.9 + box.height() * 0.08, w, h);
        p.setPen(QPen(kInk, qMax(1.0, box.width() / 24)));
        p.setBrush(colours[i]);
        p.drawRoundedRect(sheet, box.width() / 20, box.width() / 20);
    }
}

// A quill across the sheets.
void DrawQuill(QPainter& p, const QRectF& box) {
    QPainterPath feather;
    const QPointF tip(box.left() + box.width() * 0.22, box.bottom() - box.height() * 0.12);
    const QPointF top(box.right() - box.width() * 0.08, box.top() + box.height() * 0.08);
    feather.moveTo(tip);
    feather.cubicTo(QPointF(box.left() + box.width() * 0.45, box.top() + box.height() * 0.45),
                    QPointF(box.left() + box.width() * 0.62, box.top() + box.height() * 0.12), top);
    feather.cubicTo(QPointF(box.left() + box.width() * 0.82, box.top() + box.height() * 0.42),
                    QPointF(box.left() + box.width() * 0.55, box.top() + box.height() * 0.62), tip);
    p.setPen(QPen(kInk, qMax(1.0, box.width() / 32)));
    p.setBrush(kTeal);
    p.drawPath(feather);
}

QImage AppIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, size, size);
    DrawSheets(p, box);
    if (size >= 32) DrawQuill(p, box);
    return img;
}

QImage DocumentIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = size * 0.12, fold = size * 0.25;
    const QRectF page(m, size * 0.04, size - 2 * m, size * 0.92);
    QPainterPath outline;
    outline.moveTo(page.topLeft());
    outline.lineTo(page.right() - fold, page.top());
    outline.lineTo(page.right(), page.top() + fold);
    outline.lineTo(page.bottomRight());
    outline.lineTo(page.bottomLeft());
    outline.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), qMax(1.0, size / 32.0)));
    p.setBrush(Qt::white);
    p.drawPath(outline);
    p.setBrush(QColor(220, 220, 220));
    QPainterPath corner;
    corner.moveTo(page.right() - fold, page.top());
    corner.lineTo(page.right() - fold, page.top() + fold);
    corner.lineTo(page.right(), page.top() + fold);
    corner.closeSubpath();
    p.drawPath(corner);
    DrawSheets(p, QRectF(page.left() + size * 0.06, page.top() + size * 0.3,
                         page.width() - size * 0.12, page.width() - size * 0.12));
    return img;
}

QImage Splash() {
    QImage img(400, 300, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(24, 44, 72));
    sky.setColorAt(1, QColor(40, 110, 122));
    p.fillRect(img.rect(), sky);
    p.setOpacity(0.9);
    DrawSheets(p, QRectF(236, 40, 140, 140));
    DrawQuill(p, QRectF(236, 40, 140, 140));
    p.setOpacity(1);
    p.setPen(QColor(250, 245, 230));
    QFont title("DejaVu Serif", 28, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(24, 170, 360, 48), Qt::AlignLeft | Qt::AlignVCenter, "Quillo");
    QFont sub("DejaVu Sans", 15);
    p.setFont(sub);
    p.drawText(QRect(26, 214, 360, 28), Qt::AlignLeft | Qt::AlignVCenter, "Professional");
    p.setPen(QColor(200, 220, 225));
    QFont small("DejaVu Sans", 9);
    p.setFont(small);
    p.drawText(QRect(26, 256, 360, 20), Qt::AlignLeft | Qt::AlignVCenter, "Layered image editor");
    return img;
}

// The sample's layers: an opaque background and four pictures, three with soft edges.
void SampleLayers(const QString& dir) {
    QImage bg(640, 400, QImage::Format_RGB32);
    {
        QPainter p(&bg);
        QLinearGradient sky(0, 0, 0, 400);
        sky.setColorAt(0, QColor(110, 170, 225));
        sky.setColorAt(0.7, QColor(235, 225, 200));
        sky.setColorAt(1, QColor(240, 200, 150));
        p.fillRect(bg.rect(), sky);
    }
    bg.convertToFormat(QImage::Format_RGB888).save(dir + "/Background", "PNG");

    QImage hills(640, 150, QImage::Format_ARGB32);
    hills.fill(Qt::transparent);
    {
        QPainter p(&hills);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath back;
        back.moveTo(0, 60);
        back.cubicTo(160, 0, 300, 90, 420, 40);
        back.cubicTo(520, 0, 600, 30, 640, 50);
        back.lineTo(640, 150);
        back.lineTo(0, 150);
        back.closeSubpath();
        p.fillPath(back, QColor(70, 130, 90, 200));
        QPainterPath front;
        front.moveTo(0, 110);
        front.cubicTo(200, 50, 380, 140, 640, 80);
        front.lineTo(640, 150);
        front.lineTo(0, 150);
        front.closeSubpath();
        p.fillPath(front, QColor(40, 95, 60));
    }
    hills.save(dir + "/Rolling hills", "PNG");

    QImage sun(128, 128, QImage::Format_ARGB32);
    sun.fill(Qt::transparent);
    {
        QPainter p(&sun);
        p.setRenderHint(QPainter::Antialiasing);
        QRadialGradient glow(64, 64, 64);
        glow.setColorAt(0, QColor(255, 235, 140, 255));
        glow.setColorAt(0.45, QColor(255, 200, 80, 255));
        glow.setColorAt(0.55, QColor(255, 190, 80, 120));
        glow.setColorAt(1, QColor(255, 190, 80, 0));
        p.fillRect(sun.rect(), glow);
    }
    sun.save(dir + "/Sun", "PNG");

    QImage cloud(200, 90, QImage::Format_ARGB32);
    cloud.fill(Qt::transparent);
    {
        QPainter p(&cloud);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 190));
        const QRectF puffs[] = {{10, 40, 80, 45}, {50, 10, 80, 70}, {100, 25, 90, 60}};
        for (const QRectF& r : puffs) p.drawEllipse(r);
    }
    cloud.save(dir + "/Cloud", "PNG");

    QImage title(250, 48, QImage::Format_RGB888);
    title.fill(QColor(250, 245, 230));
    {
        QPainter p(&title);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setPen(QPen(kInk, 2));
        p.drawRect(QRectF(1, 1, 248, 46));
        p.setFont(QFont("DejaVu Serif", 16, QFont::Bold));
        p.drawText(title.rect(), Qt::AlignCenter, "Quillo sample");
    }
    title.save(dir + "/Title", "PNG");
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-artwork DATA-DIR SAMPLE-LAYERS-DIR\n");
        return 2;
    }
    const QString data = QString::fromLocal8Bit(argv[1]);
    const QString layers = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(data + "/icons");
    QDir().mkpath(layers);
    for (int size : {16, 32, 48, 128}) {
        AppIcon(size).save(QString("%1/icons/quillo-%2.png").arg(data).arg(size));
        DocumentIcon(size).save(QString("%1/icons/document-%2.png").arg(data).arg(size));
    }
    Splash().save(data + "/splash.png");
    SampleLayers(layers);
    return 0;
}
