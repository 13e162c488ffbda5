// The "Colors" bar on screen: what it draws where, clicks picking colours, the colour
// chooser, and the bar standing upright when docked at the side. Also the key texts of
// the accelerator table, which only Qt can read.
#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeySequence>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

#include "ColorPaletteBar.h"
#include "CommandTables.h"
#include "TestRegistry.h"

namespace {

QPoint Centre(const RECT& r) { return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

COLORREF PixelAt(const QImage& image, QPoint p) {
    const QRgb c = image.pixel(p);
    return RGB(qRed(c), qGreen(c), qBlue(c));
}

QImage Grab(QWidget* w) { return w->grab().toImage(); }

// Counts the events of one type that reach the objects it filters.
class TEventCounter : public QObject {
public:
    TEventCounter(QEvent::Type type, int* count) : type_(type), count_(count) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_) ++*count_;
        return false;
    }

private:
    QEvent::Type type_;
    int* count_;
};

} // namespace

class ColorPaletteBarTest : public QObject {
    Q_OBJECT
private slots:
    void DrawsPicksAndStandsUprightWhenDockedAtTheSide() {
        QMainWindow w;
        auto* bar = new TColorPaletteBar(&w);
        w.addToolBar(Qt::BottomToolBarArea, bar);
        w.resize(600, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TColorPalette& palette = bar->Palette();
        TColorPaletteGadget* gadget = bar->Gadget();
        QCOMPARE(gadget->size(), QSize(421, 76));

        const RECT bg = palette.BackgroundRect();
        const auto squaresShow = [&](const QImage& image, COLORREF fore, COLORREF back) {
            QCOMPARE(PixelAt(image, Centre(palette.ForegroundRect())), fore);
            QCOMPARE(PixelAt(image, QPoint(bg.right - 3, bg.bottom - 3)), back);
        };
        QImage image = Grab(gadget);
        for (int i : {0, 7, 31, 32, 100, 255})
            QCOMPARE(PixelAt(image, Centre(palette.CellRect(i))), palette.Color(i));
        squaresShow(image, palette.ForegroundColor(), palette.BackgroundColor());

        QSignalSpy picked(bar, &TColorPaletteBar::ForegroundChanged);
        QTest::mouseClick(gadget, Qt::LeftButton, {}, Centre(palette.CellRect(100)));
        QTest::mouseClick(gadget, Qt::RightButton, {}, Centre(palette.CellRect(200)));
        QCOMPARE(picked.count(), 1); // the background is not announced
        QCOMPARE(picked.at(0).at(0).value<COLORREF>(), palette.Color(100));
        QCOMPARE(palette.BackgroundColor(), palette.Color(200));
        // The right click's menu request stays with the gadget: no tool bar menu.
        int menuRequests = 0;
        TEventCounter counter(QEvent::ContextMenu, &menuRequests);
        bar->installEventFilter(&counter);
        w.setContextMenuPolicy(Qt::NoContextMenu); // a failure must not wait in a menu
        const QPoint at = Centre(palette.CellRect(200));
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, gadget->mapToGlobal(at));
        QApplication::sendEvent(gadget, &menu);
        QCOMPARE(menuRequests, 0);
        bar->removeEventFilter(&counter);
        // The squares show the new colours once the bar has repainted.
        squaresShow(Grab(gadget), palette.Color(100), palette.Color(200));

        // A double click on the foreground square asks for any colour.
        THeadlessCommonDialogs dialogs;
        SetCommonDialogs(&dialogs);
        dialogs.QueueColor(RGB(12, 34, 56));
        QTest::mouseDClick(gadget, Qt::LeftButton, {}, Centre(palette.ForegroundRect()));
        SetCommonDialogs(nullptr);
        QCOMPARE(dialogs.ColorRequests.size(), size_t(1));
        QCOMPARE(palette.ForegroundColor(), RGB(12, 34, 56));
        QCOMPARE(picked.count(), 2);

        // Docked at the side, the bar is drawn and hit upright; back at the top it lies flat.
        w.addToolBar(Qt::LeftToolBarArea, bar);
        QTRY_VERIFY(palette.IsVertical());
        QTRY_COMPARE(gadget->size(), QSize(76, 421));
        image = Grab(gadget);
        QCOMPARE(PixelAt(image, Centre(palette.CellRect(33))), palette.Color(33));
        QTest::mouseClick(gadget, Qt::LeftButton, {}, Centre(palette.CellRect(250)));
        QCOMPARE(palette.ForegroundColor(), palette.Color(250));
        w.addToolBar(Qt::TopToolBarArea, bar);
        QTRY_VERIFY(!palette.IsVertical());
    }
};
QUILLO_QT_TEST(ColorPaletteBarTest);

// Every accelerator must be a single key Qt understands, and no two may collide once Qt
// has parsed them (two spellings of one key would both be accepted by the tables).
class AcceleratorKeysTest : public QObject {
    Q_OBJECT
private slots:
    void EveryKeyParsesToOneDistinctKey() {
        QSet<QKeyCombination> seen;
        for (const TAccelDef& a : Accelerators()) {
            const QKeySequence key =
                QKeySequence::fromString(QString::fromStdString(a.Key), QKeySequence::PortableText);
            QVERIFY2(key.count() == 1 && key[0].key() != Qt::Key_unknown, a.Key.c_str());
            QVERIFY2(!seen.contains(key[0]), a.Key.c_str());
            seen.insert(key[0]);
        }
        // The keypad zoom keys really are on the keypad.
        const QKeySequence zoomIn =
            QKeySequence::fromString(QStringLiteral("Num++"), QKeySequence::PortableText);
        QCOMPARE(zoomIn[0].keyboardModifiers(), Qt::KeypadModifier);
        QCOMPARE(zoomIn[0].key(), Qt::Key_Plus);
    }
};
QUILLO_QT_TEST(AcceleratorKeysTest);

#include "ColorPaletteBarTest.moc"
