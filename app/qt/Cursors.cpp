#include "Cursors.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <cmath>
#include <vector>

#include "WindowHost.h"

namespace {

// Pixel (x, y) of the 32 by 32 grid, by its centre: a one-pixel line through such points
// covers whole pixels at ratio 1 and whole pixel pairs at ratio 2.
QPointF P(qreal x, qreal y) { return QPointF(x + 0.5, y + 0.5); }

enum class TFill { None, Black, White };

// A cursor is drawn in two passes: first every part's white rim, then every part in black
// (or white inside a black outline). Drawing the rims first keeps one part's rim from
// cutting through another part's black where the two meet.
class TArt {
public:
    // An open or closed outline of the given width; a closed one may be filled.
    void Add(const QPainterPath& path, qreal width, TFill fill = TFill::None) {
        parts_.push_back({path, width, fill});
    }
    void Line(QPointF a, QPointF b, qreal width = 1) {
        QPainterPath path(a);
        path.lineTo(b);
        Add(path, width);
    }
    // A solid black block of pixels x0..x1, y0..y1 (inclusive).
    void Block(int x0, int y0, int x1, int y1) {
        QPainterPath path;
        path.addRect(QRectF(x0, y0, x1 - x0 + 1, y1 - y0 + 1));
        Add(path, 0, TFill::Black);
    }
    // The outline of the pixel rectangle x0..x1, y0..y1.
    void Frame(int x0, int y0, int x1, int y1, TFill fill = TFill::None) {
        QPainterPath path;
        path.addRect(QRectF(P(x0, y0), P(x1, y1)));
        Add(path, 1, fill);
    }

    void Render(QPainter& p) const {
        p.setRenderHint(QPainter::Antialiasing);
        for (const TPart& part : parts_) {
            if (part.fill != TFill::None) p.fillPath(part.path, Qt::white);
            p.strokePath(part.path, Pen(Qt::white, part.width + 2));
        }
        for (const TPart& part : parts_) {
            if (part.fill != TFill::None)
                p.fillPath(part.path, part.fill == TFill::Black ? Qt::black : Qt::white);
            if (part.width > 0) p.strokePath(part.path, Pen(Qt::black, part.width));
        }
    }

private:
    static QPen Pen(const QColor& color, qreal width) {
        return QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    }
    struct TPart {
        QPainterPath path;
        qreal width;
        TFill fill;
    };
    std::vector<TPart> parts_;
};

// A path drawn upright about its own origin, turned by degrees (clockwise on screen) and
// moved so that the origin lands on `at`.
QPainterPath Placed(const QPainterPath& path, qreal degrees, QPointF at) {
    QTransform t;
    t.translate(at.x(), at.y());
    t.rotate(degrees);
    return t.map(path);
}

QPainterPath RoundedRect(qreal x, qreal y, qreal w, qreal h, qreal r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

QPainterPath Circle(QPointF centre, qreal r) {
    QPainterPath path;
    path.addEllipse(centre, r, r);
    return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// --- Marks that several cursors share ------------------------------------------------

// The selection modes' marks beside the pointer, 7 pixels square around (cx, cy).
enum class TBadge { None, Add, Subtract, Outside };

void Badge(TArt& art, TBadge badge, int cx, int cy) {
    switch (badge) {
        case TBadge::None: break;
        case TBadge::Add:
            art.Line(P(cx - 3, cy), P(cx + 3, cy));
            art.Line(P(cx, cy - 3), P(cx, cy + 3));
            break;
        case TBadge::Subtract: art.Line(P(cx - 3, cy), P(cx + 3, cy)); break;
        case TBadge::Outside:
            // A crossed-out square: everything but the shape.
            art.Frame(cx - 3, cy - 3, cx + 3, cy + 3);
            art.Line(P(cx - 3, cy - 3), P(cx + 3, cy + 3));
            art.Line(P(cx + 3, cy - 3), P(cx - 3, cy + 3));
            break;
    }
}

// A crosshair centred on pixel (cx, cy) with arms of `arm` pixels past a gap of `gap`,
// and the centre pixel itself so the exact spot stays visible.
void Crosshair(TArt& art, int cx, int cy, int gap, int arm) {
    art.Line(P(cx, cy - gap - arm), P(cx, cy - gap - 1));
    art.Line(P(cx, cy + gap + 1), P(cx, cy + gap + arm));
    art.Line(P(cx - gap - arm, cy), P(cx - gap - 1, cy));
    art.Line(P(cx + gap + 1, cy), P(cx + gap + arm, cy));
    art.Block(cx, cy, cx, cy);
}

// An upright brush with its tip at the origin and the handle going up: bristles, ferrule,
// handle.
void Brush(TArt& art, qreal degrees, QPointF tip, qreal scale = 1) {
    const auto place = [&](const QPainterPath& path) {
        return Placed(QTransform::fromScale(scale, scale).map(path), degrees, tip);
    };
    QPainterPath bristles(QPointF(0, 0));
    bristles.cubicTo(QPointF(-1, -3), QPointF(-3.5, -5), QPointF(-3.5, -9));
    bristles.lineTo(QPointF(3.5, -9));
    bristles.cubicTo(QPointF(3.5, -5), QPointF(1, -3), QPointF(0, 0));
    art.Add(place(bristles), 0, TFill::Black);
    art.Add(place(RoundedRect(-3.5, -13, 7, 4, 0.5)), 1, TFill::White);
    QPainterPath handle(QPointF(-2.5, -13));
    handle.lineTo(QPointF(-1.5, -27));
    handle.quadTo(QPointF(0, -29.5), QPointF(1.5, -27));
    handle.lineTo(QPointF(2.5, -13));
    handle.closeSubpath();
    art.Add(place(handle), 0, TFill::Black);
}

// --- The cursors ------------------------------------------------------------------

void OpenHand(TArt& art) {
    // Four fingers side by side, their tops at different heights, the thumb off to the
    // left and the palm below; one silhouette with the fingers' gaps drawn into it.
    QPainterPath hand = RoundedRect(8.5, 13.5, 16, 15, 5);
    const qreal tops[4] = {7.5, 4.5, 5.5, 8.5};
    for (int i = 0; i < 4; ++i) hand = hand.united(RoundedRect(8.5 + 4 * i, tops[i], 4, 14, 2));
    QPainterPath thumb = Placed(RoundedRect(-2, -9, 4, 11, 2), -40, QPointF(9, 22));
    hand = hand.united(thumb);
    art.Add(hand.simplified(), 1, TFill::White);
    for (int i = 1; i < 4; ++i) {
        const qreal x = 8.5 + 4 * i;
        art.Line(QPointF(x, std::max(tops[i - 1], tops[i]) + 3), QPointF(x, 15.5));
    }
}

void ClosedHand(TArt& art) {
    // The fingers curled over: short rounded knuckles on a wider palm, the thumb along
    // the side.
    QPainterPath hand = RoundedRect(7.5, 12.5, 17, 15, 5);
    for (int i = 0; i < 4; ++i) hand = hand.united(RoundedRect(8.5 + 4 * i, 9.5, 4, 8, 2));
    hand = hand.united(Placed(RoundedRect(-2, -6, 4, 8, 2), -60, QPointF(9, 20)));
    art.Add(hand.simplified(), 1, TFill::White);
    for (int i = 1; i < 4; ++i) {
        const qreal x = 8.5 + 4 * i;
        art.Line(QPointF(x, 12.5), QPointF(x, 15.5));
    }
}

void Deformation(TArt& art) {
    // A skewed frame with a handle at each corner: the layer being bent out of square.
    const QPointF corners[4] = {P(6, 8), P(25, 4), P(27, 26), P(4, 23)};
    QPainterPath frame;
    frame.addPolygon(QPolygonF(QList<QPointF>(std::begin(corners), std::end(corners))));
    frame.closeSubpath();
    art.Add(frame, 1);
    for (const QPointF& c : corners) {
        const int x = int(c.x()), y = int(c.y());
        art.Block(x - 1, y - 1, x + 1, y + 1);
    }
    Crosshair(art, 15, 15, 1, 3);
}

void Magnifier(TArt& art) {
    art.Add(Circle(P(12, 12), 8), 2);
    art.Add(Placed(RoundedRect(-2.5, 0, 5, 11, 1.5), -45, P(17.5, 17.5)), 0, TFill::Black);
}

void SelectionCross(TArt& art, TBadge badge) {
    Crosshair(art, 15, 15, 2, 9);
    Badge(art, badge, 25, 25);
}

void Wand(TArt& art, TBadge badge) {
    // The star at the tip is where the colour is picked up.
    art.Line(P(6, 0), P(6, 3));
    art.Line(P(6, 9), P(6, 12));
    art.Line(P(0, 6), P(3, 6));
    art.Line(P(9, 6), P(12, 6));
    art.Block(6, 6, 6, 6);
    const QPainterPath stick = Placed(RoundedRect(-2, 0, 4, 20, 1), -45, P(10, 10));
    const QPainterPath tip = Placed(RoundedRect(-2, 0, 4, 5, 1), -45, P(10, 10));
    art.Add(stick, 0, TFill::Black);
    art.Add(tip, 1, TFill::White);
    Badge(art, badge, 6, 25);
}

void Retoucher(TArt& art, TBadge badge) {
    // The selection brush: its round dab with the centre marked.
    art.Add(Circle(P(14, 14), 7), 1);
    art.Block(14, 14, 14, 14);
    Badge(art, badge, 26, 26);
}

void ShapeTool(TArt& art, int kind) {
    Crosshair(art, 7, 7, 1, 5);
    switch (kind) {
        case 0: art.Line(P(15, 29), P(29, 15)); break;
        case 1: art.Frame(15, 17, 29, 28); break;
        default: {
            QPainterPath ellipse;
            ellipse.addEllipse(QRectF(P(15, 17), P(29, 28)));
            art.Add(ellipse, 1);
        }
    }
}

void Smudge(TArt& art) {
    // A pointing finger, its tip at the pointer, the rest of the hand curled behind it.
    QPainterPath hand = RoundedRect(-3, 0, 6, 15, 3);
    hand = hand.united(RoundedRect(-3, 10, 14, 13, 4));
    hand = hand.united(RoundedRect(2.5, 7.5, 5, 8, 2.5));
    hand = hand.united(RoundedRect(6.5, 8.5, 5, 8, 2.5));
    const QPointF tip(4.5, 3);
    art.Add(Placed(hand.simplified(), -35, tip), 1, TFill::White);
    QPainterPath nail(QPointF(-1.5, 4.5));
    nail.quadTo(QPointF(0, 2.5), QPointF(1.5, 4.5));
    art.Add(Placed(nail, -35, tip), 1);
    QPainterPath knuckle(QPointF(3, 10.5));
    knuckle.lineTo(QPointF(3, 14));
    art.Add(Placed(knuckle, -35, tip), 1);
}

void Eyedropper(TArt& art) {
    const QPointF tip = P(2, 29);
    QPainterPath glass =
        Polygon({QPointF(0, 0), QPointF(-1.5, -5), QPointF(-2.5, -6), QPointF(-2.5, -17),
                 QPointF(2.5, -17), QPointF(2.5, -6), QPointF(1.5, -5)});
    art.Add(Placed(glass, 45, tip), 1, TFill::White);
    // What it has picked up: the lower part of the tube.
    art.Add(Placed(Polygon({QPointF(0, -1), QPointF(-1, -5), QPointF(-1.5, -6), QPointF(-1.5, -10),
                            QPointF(1.5, -10), QPointF(1.5, -6), QPointF(1, -5)}),
                   45, tip),
            0, TFill::Black);
    art.Add(Placed(RoundedRect(-4.5, -20, 9, 3, 1), 45, tip), 0, TFill::Black);
    art.Add(Placed(RoundedRect(-3.5, -30, 7, 11, 3.5), 45, tip), 0, TFill::Black);
}

void Stamp(TArt& art) {
    art.Add(Circle(QPointF(16, 6.5), 4), 0, TFill::Black);
    art.Add(Polygon({QPointF(14, 9), QPointF(18, 9), QPointF(19, 16), QPointF(13, 16)}), 0,
            TFill::Black);
    art.Add(RoundedRect(7, 16, 18, 7, 2), 0, TFill::Black);
    art.Frame(5, 23, 26, 26, TFill::White);
    // The print it leaves starts at the middle of the pad's edge.
    art.Block(15, 27, 16, 28);
}

void Bucket(TArt& art) {
    // A pail tipped over to the left, paint running out of its mouth into a drop whose
    // tip is the point the fill starts from.
    const QPointF pivot(17, 13);
    QPainterPath pail =
        Polygon({QPointF(-7, -7), QPointF(7, -7), QPointF(5.5, 7), QPointF(-5.5, 7)});
    art.Add(Placed(pail, -45, pivot), 1, TFill::White);
    QPainterPath handle(QPointF(-7, -7));
    handle.cubicTo(QPointF(-7, -16), QPointF(7, -16), QPointF(7, -7));
    art.Add(Placed(handle, -45, pivot), 1);
    QPainterPath paint = Placed(RoundedRect(-7, -9, 14, 4, 2), -45, pivot);
    QPainterPath drop(QPointF(5, 15));
    drop.cubicTo(QPointF(2, 18), QPointF(3, 22), QPointF(3.5, 27.5));
    drop.cubicTo(QPointF(4, 22), QPointF(7, 20), QPointF(9, 17));
    drop.closeSubpath();
    art.Add(paint.united(drop).simplified(), 0, TFill::Black);
}

void IBeam(TArt& art) {
    art.Line(P(12, 5), P(14, 5));
    art.Line(P(16, 5), P(18, 5));
    art.Line(P(15, 6), P(15, 25));
    art.Line(P(12, 26), P(14, 26));
    art.Line(P(16, 26), P(18, 26));
    art.Line(P(13, 15), P(17, 15));
}

void HistoryBrush(TArt& art) {
    Brush(art, 45, P(3, 28), 0.9);
    // A circling arrow: the paint comes back from an earlier state.
    QPainterPath arc;
    arc.arcMoveTo(QRectF(P(18, 18), P(28, 28)), 110);
    arc.arcTo(QRectF(P(18, 18), P(28, 28)), 110, 270);
    art.Add(arc, 1.5);
    art.Add(Polygon({P(18, 19), P(23.5, 17.5), P(22, 22.5)}), 0, TFill::Black);
}

void Airbrush(TArt& art) {
    // The spray cloud the pointer sits in, then the gun: nozzle, barrel, paint cup on top
    // and the grip below.
    for (const QPoint d : {QPoint(0, 12), QPoint(2, 9), QPoint(2, 15), QPoint(4, 11), QPoint(4, 13),
                           QPoint(1, 7), QPoint(1, 17), QPoint(5, 8), QPoint(5, 16)})
        art.Block(d.x(), d.y(), d.x(), d.y());
    art.Add(Polygon({QPointF(8, 11), QPointF(12, 10), QPointF(12, 15), QPointF(8, 14)}), 0,
            TFill::Black);
    art.Add(RoundedRect(11.5, 9.5, 17, 6, 2), 1, TFill::White);
    art.Add(RoundedRect(15.5, 2.5, 7, 7, 1.5), 1, TFill::White);
    art.Block(15, 2, 22, 4);
    art.Add(Placed(RoundedRect(-2.5, 0, 5, 12, 1.5), 20, QPointF(25, 15.5)), 0, TFill::Black);
}

void Draw(TArt& art, int id) {
    switch (id) {
        case 15: OpenHand(art); break;
        case 16: Deformation(art); break;
        case 17: ClosedHand(art); break;
        case 18: Magnifier(art); break;
        case 19: SelectionCross(art, TBadge::None); break;
        case 20: SelectionCross(art, TBadge::Add); break;
        case 21: SelectionCross(art, TBadge::Subtract); break;
        case 22: SelectionCross(art, TBadge::Outside); break;
        case 23: ShapeTool(art, 0); break;
        case 24: ShapeTool(art, 1); break;
        case 25: ShapeTool(art, 2); break;
        case 26: Brush(art, 45, P(3, 28)); break;
        case 27: Smudge(art); break;
        case 28: Eyedropper(art); break;
        case 29: Retoucher(art, TBadge::Add); break;
        case 30: Retoucher(art, TBadge::Subtract); break;
        case 31: Wand(art, TBadge::Outside); break;
        case 32: Wand(art, TBadge::Subtract); break;
        case 33: Wand(art, TBadge::Add); break;
        case 34: Wand(art, TBadge::None); break;
        case 35: Stamp(art); break;
        case 36: Bucket(art); break;
        case 37: IBeam(art); break;
        case 38: HistoryBrush(art); break;
        case 39: Airbrush(art); break;
        default: break;
    }
}

} // namespace

bool IsToolCursor(int id) { return id >= kFirstToolCursor && id <= kLastToolCursor; }

QPoint ToolCursorHotSpot(int id) {
    switch (id) {
        case 15:
        case 17: return QPoint(16, 18); // the palm
        case 16: return QPoint(15, 15);
        case 18: return QPoint(12, 12); // the lens' centre
        case 19:
        case 20:
        case 21:
        case 22: return QPoint(15, 15);
        case 23:
        case 24:
        case 25: return QPoint(7, 7);
        case 26:
        case 38: return QPoint(3, 28); // the bristles' tip
        case 27: return QPoint(4, 3);  // the fingertip
        case 28: return QPoint(2, 29); // the pipette's tip
        case 29:
        case 30: return QPoint(14, 14);
        case 31:
        case 32:
        case 33:
        case 34: return QPoint(6, 6); // the star
        case 35: return QPoint(15, 27);
        case 36: return QPoint(3, 27); // where the paint drips
        case 37: return QPoint(15, 15);
        case 39: return QPoint(3, 12); // the middle of the spray
        default: return QPoint(0, 0);
    }
}

QPixmap ToolCursorPixmap(int id, qreal devicePixelRatio) {
    if (!IsToolCursor(id)) return QPixmap();
    const qreal ratio = std::max<qreal>(1, devicePixelRatio);
    const int side = int(std::ceil(kToolCursorSize * ratio));
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    TArt art;
    Draw(art, id);
    QPainter painter(&pixmap);
    art.Render(painter);
    return pixmap;
}

QCursor CursorFor(int id, qreal devicePixelRatio) {
    if (id == CURSOR_NO) return QCursor(Qt::ForbiddenCursor);
    if (!IsToolCursor(id)) return QCursor(Qt::ArrowCursor);
    // Each cursor is drawn once per ratio; the view asks for one on every mouse move.
    static QHash<QPair<int, qreal>, QCursor> cache;
    const QPair<int, qreal> key(id, devicePixelRatio);
    if (const auto it = cache.constFind(key); it != cache.constEnd()) return it.value();
    const QPoint hot = ToolCursorHotSpot(id);
    const QCursor cursor(ToolCursorPixmap(id, devicePixelRatio), hot.x(), hot.y());
    cache.insert(key, cursor);
    return cursor;
}
