#include "CommandIcons.h"

#include <QConicalGradient>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

#include "CommandIds.h"

namespace {
// Every picture is drawn on a 24 x 24 grid; the icon holds it at 24 and 48 pixels so it
// stays sharp on dense screens.
using TDraw = std::function<void(QPainter&)>;

const QColor kInk(40, 44, 52);
const QColor kPaper(250, 250, 246);
const QColor kBlue(52, 101, 164);
const QColor kSky(114, 159, 207);
const QColor kYellow(237, 212, 0);
const QColor kOrange(245, 121, 0);
const QColor kRed(204, 0, 0);
const QColor kGreen(78, 154, 6);
const QColor kGrey(136, 138, 133);

QIcon Render(const TDraw& draw) {
    QIcon icon;
    for (const int size : {24, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        draw(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen Pen(const QColor& c, double width = 1.5, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(c, width, style, Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

void Page(QPainter& p, const QRectF& r) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 5, r.top());
    path.lineTo(r.right(), r.top() + 5);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(r.right() - 5, r.top()), QPointF(r.right() - 5, r.top() + 5));
    p.drawLine(QPointF(r.right() - 5, r.top() + 5), QPointF(r.right(), r.top() + 5));
}

void Magnifier(QPainter& p, const QPointF& centre, double radius) {
    p.setPen(Pen(kInk, 2.2));
    p.drawLine(centre + QPointF(radius * 0.7, radius * 0.7),
               centre + QPointF(radius * 1.9, radius * 1.9));
    p.setPen(Pen(kInk, 1.6));
    p.setBrush(QColor(200, 225, 250));
    p.drawEllipse(centre, radius, radius);
}

void Arrow(QPainter& p, bool forward) {
    // A curved arrow turning back (undo) or on (redo).
    p.save();
    if (forward) {
        p.translate(24, 0);
        p.scale(-1, 1);
    }
    QPainterPath path;
    path.moveTo(6, 10);
    path.cubicTo(10, 4, 20, 5, 20, 13);
    path.cubicTo(20, 17, 17, 19, 13, 19);
    p.setPen(Pen(kBlue, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    QPolygonF head;
    head << QPointF(2, 11) << QPointF(9, 5) << QPointF(10, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPolygon(head);
    p.restore();
}

void DashedShape(QPainter& p, const std::function<void(QPainter&)>& shape) {
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(Qt::white, 1.5));
    shape(p);
    p.setPen(Pen(kInk, 1.5, Qt::DashLine));
    shape(p);
}

void Brush(QPainter& p, const QColor& tip) {
    p.setPen(Pen(QColor(143, 89, 2), 3));
    p.drawLine(QPointF(20, 4), QPointF(11, 13));
    p.setPen(Pen(kGrey, 3.2, Qt::SolidLine));
    p.drawLine(QPointF(11.5, 12.5), QPointF(9.5, 14.5));
    QPainterPath tipPath;
    tipPath.moveTo(9, 14);
    tipPath.cubicTo(4, 15, 6, 19, 3, 21);
    tipPath.cubicTo(8, 21, 11, 19, 10.5, 15.5);
    tipPath.closeSubpath();
    p.setPen(Pen(kInk, 1));
    p.setBrush(tip);
    p.drawPath(tipPath);
}

void Letter(QPainter& p, const QString& text, const QColor& colour) {
    QFont font = p.font();
    font.setPixelSize(14);
    font.setBold(true);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, text);
}

TDraw Picture(int id) {
    switch (id) {
        case CM_FILENEW: return [](QPainter& p) { Page(p, QRectF(5, 2, 14, 20)); };
        case CM_FILEOPEN:
            return [](QPainter& p) {
                p.setPen(Pen(QColor(143, 89, 2), 1.2));
                p.setBrush(QColor(193, 125, 17));
                p.drawRect(QRectF(2, 6, 18, 14));
                p.setBrush(kYellow);
                QPolygonF front;
                front << QPointF(5, 10) << QPointF(22, 10) << QPointF(19, 20) << QPointF(2, 20);
                p.drawPolygon(front);
            };
        case CM_FILESAVE:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kBlue);
                p.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
                p.setBrush(kPaper);
                p.drawRect(QRectF(6, 3, 12, 7));
                p.setBrush(kGrey);
                p.drawRect(QRectF(7, 14, 10, 7));
            };
        case CM_ACQUIRE: // a scanner
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kGrey.lighter(140));
                p.drawRoundedRect(QRectF(2, 11, 20, 8), 2, 2);
                p.setBrush(kSky);
                p.drawRect(QRectF(4, 9, 16, 2));
                p.setPen(Pen(kGreen, 1.5));
                p.drawLine(QPointF(5, 15), QPointF(19, 15));
                Page(p, QRectF(7, 2, 10, 7));
            };
        case CM_FILEPRINT:
            return [](QPainter& p) {
                Page(p, QRectF(6, 2, 12, 9));
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kGrey.lighter(130));
                p.drawRoundedRect(QRectF(2, 9, 20, 9), 2, 2);
                p.setBrush(kPaper);
                p.drawRect(QRectF(6, 15, 12, 7));
            };
        case CM_FILEPRINTPREVIEW:
            return [](QPainter& p) {
                Page(p, QRectF(3, 2, 14, 19));
                Magnifier(p, QPointF(13, 13), 4.5);
            };
        case CM_EDITCOPY:
            return [](QPainter& p) {
                Page(p, QRectF(3, 2, 12, 15));
                Page(p, QRectF(9, 7, 12, 15));
            };
        case CM_EDITPASTE:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(QColor(193, 125, 17));
                p.drawRoundedRect(QRectF(3, 4, 14, 18), 2, 2);
                p.setBrush(kGrey);
                p.drawRect(QRectF(7, 2, 6, 4));
                Page(p, QRectF(10, 9, 11, 13));
            };
        case CM_EDITUNDO: return [](QPainter& p) { Arrow(p, false); };
        case CM_EDITREDO: return [](QPainter& p) { Arrow(p, true); };
        case CM_IMAGE_RESIZE:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kPaper);
                p.drawRect(QRectF(3, 3, 18, 18));
                p.setBrush(kSky);
                p.drawRect(QRectF(3, 13, 8, 8));
                p.setPen(Pen(kBlue, 1.8));
                p.drawLine(QPointF(10, 14), QPointF(18, 6));
                p.drawLine(QPointF(18, 6), QPointF(13, 6));
                p.drawLine(QPointF(18, 6), QPointF(18, 11));
            };
        case CM_IMAGE_CROP:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 2.4));
                p.drawPolyline(QPolygonF() << QPointF(7, 2) << QPointF(7, 17) << QPointF(22, 17));
                p.drawPolyline(QPolygonF() << QPointF(2, 7) << QPointF(17, 7) << QPointF(17, 22));
            };
        case CM_IMAGE_FLIP_HORIZONTAL:
        case CM_IMAGE_FLIP_VERTICAL:
            return [id](QPainter& p) {
                if (id == CM_IMAGE_FLIP_VERTICAL) {
                    p.translate(12, 12);
                    p.rotate(90);
                    p.translate(-12, -12);
                }
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kBlue);
                p.drawPolygon(QPolygonF() << QPointF(10, 4) << QPointF(10, 20) << QPointF(2, 20));
                p.setBrush(kPaper);
                p.drawPolygon(QPolygonF() << QPointF(14, 4) << QPointF(14, 20) << QPointF(22, 20));
                p.setPen(Pen(kRed, 1.2, Qt::DashLine));
                p.drawLine(QPointF(12, 1), QPointF(12, 23));
            };
        case CM_ADJUST_BRIGHTNESS_CONTRAST:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.4));
                p.setBrush(kPaper);
                p.drawEllipse(QPointF(12, 12), 9, 9);
                p.setBrush(kInk);
                p.drawPie(QRectF(3, 3, 18, 18), 90 * 16, 180 * 16);
            };
        case CM_ADJUST_HUE_SATURATION:
            return [](QPainter& p) {
                QConicalGradient g(12, 12, 0);
                g.setColorAt(0.0, Qt::red);
                g.setColorAt(1 / 6.0, Qt::yellow);
                g.setColorAt(2 / 6.0, Qt::green);
                g.setColorAt(3 / 6.0, Qt::cyan);
                g.setColorAt(4 / 6.0, Qt::blue);
                g.setColorAt(5 / 6.0, Qt::magenta);
                g.setColorAt(1.0, Qt::red);
                p.setPen(Pen(kInk, 1));
                p.setBrush(g);
                p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
                p.setBrush(Qt::white);
                p.drawEllipse(QPointF(12, 12), 3, 3);
            };
        case CM_ADJUST_RGB:
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setCompositionMode(QPainter::CompositionMode_Plus);
                p.setBrush(QColor(230, 0, 0));
                p.drawEllipse(QPointF(12, 8), 6.5, 6.5);
                p.setBrush(QColor(0, 200, 0));
                p.drawEllipse(QPointF(8, 15), 6.5, 6.5);
                p.setBrush(QColor(0, 0, 255));
                p.drawEllipse(QPointF(16, 15), 6.5, 6.5);
            };
        case CM_ADJUST_GAMMA:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kPaper);
                p.drawRect(QRectF(3, 3, 18, 18));
                QPainterPath curve;
                curve.moveTo(3, 21);
                curve.cubicTo(5, 8, 10, 4, 21, 3);
                p.setPen(Pen(kRed, 1.8));
                p.setBrush(Qt::NoBrush);
                p.drawPath(curve);
            };
        case CM_ADJUST_SHARPNESS:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kSky);
                p.drawPolygon(QPolygonF() << QPointF(12, 2) << QPointF(21, 21) << QPointF(3, 21));
                p.setPen(Pen(Qt::white, 1.4));
                p.drawLine(QPointF(12, 6), QPointF(12, 18));
            };
        case CM_IMAGE_COLOR_DEPTH:
            return [](QPainter& p) {
                const QColor bands[] = {kRed, kOrange, kYellow, kGreen, kBlue};
                p.setPen(Qt::NoPen);
                for (int i = 0; i < 5; ++i) {
                    p.setBrush(bands[i]);
                    p.drawRect(QRectF(3, 3 + i * 3.6, 18, 3.6));
                }
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(Qt::NoBrush);
                p.drawRect(QRectF(3, 3, 18, 18));
            };
        case CM_ZOOM_TOOL: return [](QPainter& p) { Magnifier(p, QPointF(10, 10), 6.5); };
        case CM_MOVE_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.8));
                p.drawLine(QPointF(12, 3), QPointF(12, 21));
                p.drawLine(QPointF(3, 12), QPointF(21, 12));
                p.setPen(Qt::NoPen);
                p.setBrush(kInk);
                p.drawPolygon(QPolygonF() << QPointF(12, 1) << QPointF(9, 5) << QPointF(15, 5));
                p.drawPolygon(QPolygonF() << QPointF(12, 23) << QPointF(9, 19) << QPointF(15, 19));
                p.drawPolygon(QPolygonF() << QPointF(1, 12) << QPointF(5, 9) << QPointF(5, 15));
                p.drawPolygon(QPolygonF() << QPointF(23, 12) << QPointF(19, 9) << QPointF(19, 15));
            };
        case CM_HAND_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.1));
                p.setBrush(QColor(252, 233, 210));
                for (int i = 0; i < 4; ++i)
                    p.drawRoundedRect(QRectF(6 + i * 3.3, 3 + (i == 0 || i == 3 ? 2 : 0), 3.2, 11),
                                      1.6, 1.6);
                p.drawRoundedRect(QRectF(6, 10, 13.2, 11), 4, 4);
                p.save();
                p.translate(6, 16);
                p.rotate(-40);
                p.drawRoundedRect(QRectF(-7, -1.6, 8, 3.2), 1.6, 1.6);
                p.restore();
            };
        case CM_RECT_SELECTION:
            return [](QPainter& p) {
                DashedShape(p, [](QPainter& q) { q.drawRect(QRectF(3, 5, 18, 14)); });
            };
        case CM_ELLIPSE_SELECTION:
            return [](QPainter& p) {
                DashedShape(p, [](QPainter& q) { q.drawEllipse(QRectF(2, 5, 20, 14)); });
            };
        case CM_FREEHAND_SELECTION:
            return [](QPainter& p) {
                DashedShape(p, [](QPainter& q) {
                    QPainterPath path;
                    path.moveTo(4, 12);
                    path.cubicTo(2, 2, 20, 1, 20, 9);
                    path.cubicTo(21, 15, 12, 13, 11, 19);
                    path.cubicTo(9, 22, 5, 18, 4, 12);
                    q.drawPath(path);
                });
            };
        case CM_SELECTION_RETOUCHER:
            return [](QPainter& p) {
                DashedShape(p, [](QPainter& q) { q.drawRect(QRectF(2, 3, 14, 12)); });
                p.setPen(Pen(kInk, 1));
                p.setBrush(kSky);
                p.drawEllipse(QPointF(16, 16), 5.5, 5.5);
            };
        case CM_MAGIC_WAND:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 2.4));
                p.drawLine(QPointF(3, 21), QPointF(14, 10));
                p.setPen(Pen(kOrange, 1.5));
                const QPointF c(17, 7);
                for (int i = 0; i < 4; ++i) {
                    p.save();
                    p.translate(c);
                    p.rotate(45 * i);
                    p.drawLine(QPointF(-5, 0), QPointF(5, 0));
                    p.restore();
                }
            };
        case CM_LINE_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 2));
                p.drawLine(QPointF(3, 20), QPointF(21, 4));
            };
        case CM_RECTANGLE_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.8));
                p.setBrush(Qt::NoBrush);
                p.drawRect(QRectF(3, 5, 18, 14));
            };
        case CM_ELLIPSE_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.8));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(QRectF(2, 5, 20, 14));
            };
        case CM_FILL_TOOL:
            return [](QPainter& p) {
                p.save();
                p.translate(10, 13);
                p.rotate(-30);
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kPaper);
                p.drawRect(QRectF(-6, -6, 12, 12));
                p.restore();
                QPainterPath drop;
                drop.moveTo(19, 10);
                drop.cubicTo(17, 15, 17, 19, 19, 19);
                drop.cubicTo(21, 19, 21, 15, 19, 10);
                p.setPen(Pen(kBlue, 1));
                p.setBrush(kSky);
                p.drawPath(drop);
            };
        case CM_BRUSH_TOOL: return [](QPainter& p) { Brush(p, kBlue); };
        case CM_AIRBRUSH_TOOL:
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(kBlue);
                const QPointF dots[] = {{6, 6},  {9, 4},   {4, 10},  {8, 9}, {11, 7},
                                        {5, 14}, {10, 12}, {13, 10}, {8, 15}};
                for (const QPointF& d : dots) p.drawEllipse(d, 0.9, 0.9);
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kGrey.lighter(130));
                p.drawRoundedRect(QRectF(14, 12, 7, 10), 2, 2);
                p.drawRect(QRectF(12, 13, 2, 3));
            };
        case CM_HISTORY_BRUSH_TOOL:
            return [](QPainter& p) {
                Brush(p, kOrange);
                p.setPen(Pen(kGreen, 1.4));
                p.setBrush(Qt::NoBrush);
                p.drawArc(QRectF(13, 13, 9, 9), 90 * 16, 270 * 16);
                p.drawLine(QPointF(17.5, 17.5), QPointF(17.5, 15));
            };
        case CM_SMUDGE_TOOL:
            return [](QPainter& p) {
                QLinearGradient g(3, 12, 21, 12);
                g.setColorAt(0, QColor(52, 101, 164, 30));
                g.setColorAt(1, kBlue);
                QPainterPath path;
                path.moveTo(3, 16);
                path.cubicTo(8, 8, 13, 20, 21, 9);
                p.setPen(QPen(QBrush(g), 4, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawPath(path);
            };
        case CM_CLONE_TOOL: // a stamp
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(QColor(143, 89, 2));
                p.drawRoundedRect(QRectF(9, 2, 6, 9), 3, 3);
                p.setBrush(kGrey.lighter(120));
                p.drawRect(QRectF(4, 11, 16, 5));
                p.setBrush(kRed);
                p.drawRect(QRectF(5, 17, 14, 3));
            };
        case CM_TEXT_TOOL:
            return [](QPainter& p) {
                QFont font("Serif");
                font.setPixelSize(20);
                font.setBold(true);
                p.setFont(font);
                p.setPen(kInk);
                p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, QStringLiteral("T"));
            };
        case CM_EYEDROPPER_TOOL:
            return [](QPainter& p) {
                p.setPen(Pen(kInk, 1.2));
                p.setBrush(kPaper);
                QPolygonF tube;
                tube << QPointF(4, 20) << QPointF(14, 10) << QPointF(16, 12) << QPointF(6, 22);
                p.drawPolygon(tube);
                p.setBrush(kInk);
                p.save();
                p.translate(17, 7);
                p.rotate(45);
                p.drawRoundedRect(QRectF(-3, -5, 6, 9), 2, 2);
                p.restore();
                p.setPen(Pen(kBlue, 1.6));
                p.drawLine(QPointF(4.5, 20.5), QPointF(8, 17));
            };
        default: return nullptr;
    }
}
} // namespace

QIcon CommandIcon(int id, const QString& fallbackText) {
    if (TDraw draw = Picture(id)) return Render(draw);
    QString letter;
    for (const QChar c : fallbackText)
        if (c.isLetterOrNumber()) {
            letter = c.toUpper();
            break;
        }
    return Render([letter](QPainter& p) {
        p.setPen(Pen(kGrey, 1));
        p.setBrush(kPaper);
        p.drawRoundedRect(QRectF(2, 2, 20, 20), 3, 3);
        Letter(p, letter, kInk);
    });
}

namespace {
// The icons the desktop shows for the program and its files, when built in.
QIcon BuiltInIcon(const char* name, std::initializer_list<int> sizes) {
    QIcon icon;
    for (const int size : sizes) {
        const QString path =
            QStringLiteral(":/quillo/%1-%2.png").arg(QLatin1String(name)).arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}
} // namespace

QIcon ApplicationIcon() {
    const QIcon builtIn = BuiltInIcon("quillo", {16, 32, 48, 128});
    if (!builtIn.isNull()) return builtIn;
    return Render([](QPainter& p) {
        // Three stacked layers: the program is about layers.
        const QColor colours[] = {kBlue, kGreen, kOrange};
        for (int i = 0; i < 3; ++i) {
            QPolygonF sheet;
            const double y = 14 - i * 5;
            sheet << QPointF(12, y - 5) << QPointF(22, y) << QPointF(12, y + 5) << QPointF(2, y);
            p.setPen(Pen(kInk, 1));
            p.setBrush(colours[i]);
            p.drawPolygon(sheet);
        }
    });
}

QIcon DocumentIcon() {
    const QIcon builtIn = BuiltInIcon("document", {16, 32, 48});
    if (!builtIn.isNull()) return builtIn;
    return Render([](QPainter& p) {
        Page(p, QRectF(4, 2, 16, 20));
        p.setPen(Qt::NoPen);
        p.setBrush(kSky);
        p.drawRect(QRectF(6.5, 9, 11, 10));
        p.setBrush(kGreen);
        p.drawPolygon(QPolygonF() << QPointF(6.5, 19) << QPointF(11, 13) << QPointF(15, 19));
        p.setBrush(kYellow);
        p.drawEllipse(QPointF(15, 11.5), 1.6, 1.6);
    });
}
