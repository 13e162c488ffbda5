// The "Layers" window on the offscreen platform over a real view: the rows it paints,
// clicking the eye, renaming in place with the keyboard, and scrolling away from a rename.
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <string>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayerListWindow.h"
#include "TestRegistry.h"

namespace {

std::unique_ptr<TLayer> Layer(const std::string& name) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, 16, 16, 32, ORDER_BGR, nullptr, TOP_LEFT) == SUCCESS) l->Adopt(b);
    l->LogicalBpp = 24;
    l->Name = name;
    return l;
}

// A document with the named layers, the last one current, and a view on it.
struct Scene {
    explicit Scene(std::initializer_list<const char*> names) {
        for (const char* n : names) doc.Image.Layers.Append(Layer(n));
        doc.Image.Layers.Seek(doc.Image.Count() - 1);
        view = std::make_unique<TImageView>(doc, host);
    }
    TImageDoc doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
};

// Pixels in a box of the rows' picture that look like the eye's pupil or the marker.
int CountLike(const QImage& img, QRect box, bool (*like)(QRgb)) {
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) n += like(img.pixel(x, y)) ? 1 : 0;
    return n;
}
bool Pupil(QRgb c) { return qBlue(c) > qRed(c) + 60 && qBlue(c) > qGreen(c) + 40; }
bool Marker(QRgb c) { return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90; }

QRect EyeBox(int row) { return QRect(2, row * 24 + 2, 16, 20); }
QRect MarkerBox(int row) { return QRect(22, row * 24 + 2, 16, 20); }
QPoint NameAt(int row) { return QPoint(90, row * 24 + 12); }

} // namespace

class LayerListWindowTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsRowsHidesAndRenames() {
        Scene s({"Background", "Sky", "Tree"});
        LayerListWindow w;
        w.resize(220, 5 * 24);
        w.SetView(s.view.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Layers"));
        QCOMPARE(w.Logic().Count(), 3);

        // Every layer shows its eye; the marker sits on the current (top) layer only.
        QImage img = w.Rows()->grab().toImage();
        for (int row = 0; row < 3; ++row) QVERIFY2(CountLike(img, EyeBox(row), Pupil) > 4, qPrintable(QString::number(row)));
        QCOMPARE(CountLike(img, MarkerBox(0), Marker), 0);
        QVERIFY(CountLike(img, MarkerBox(2), Marker) > 4);

        // Clicking the eye hides the layer and the picture follows.
        QTest::mouseClick(w.Rows(), Qt::LeftButton, {}, QPoint(10, 24 + 12));
        QVERIFY(!s.view->LayerHandler().IsVisible(1));
        img = w.Rows()->grab().toImage();
        QCOMPARE(CountLike(img, EyeBox(1), Pupil), 0);
        QVERIFY(CountLike(img, EyeBox(0), Pupil) > 4);
        QCOMPARE(s.doc.UndoCount(), 0);

        // Double-click the name, type a new one, Enter: one undo step.
        QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {}, w.Rows()->mapTo(&w, NameAt(2)));
        QVERIFY(w.NameEditor()->isVisible());
        QCOMPARE(w.NameEditor()->text(), QStringLiteral("Tree"));
        QCOMPARE(w.NameEditor()->geometry().top(), 2 * 24);
        QTest::keyClicks(w.NameEditor(), "Oak");
        QTest::keyClick(w.NameEditor(), Qt::Key_Return);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(QString::fromStdString(s.view->LayerHandler().Name(2)), QStringLiteral("Oak"));
        QCOMPARE(QString::fromStdString(s.doc.UndoName()), QStringLiteral("Rename 'Tree' to 'Oak'"));
        QCOMPARE(s.doc.UndoCount(), 1);

        // Undo in the view reaches the list.
        QVERIFY(s.view->DoCommand(CM_EDITUNDO));
        QCOMPARE(w.Logic().Row(2).Name, std::string("Tree"));

        QDir().mkpath(QUILLO_TEST_OUT);
        QVERIFY(w.grab().save(QUILLO_TEST_OUT "/layer-list.png"));
    }

    void ScrollingCancelsARenameAndEscapeToo() {
        Scene s({"Background", "A", "B", "C", "D", "E", "F", "G", "H", "I"});
        LayerListWindow w;
        w.resize(200, 4 * 24);
        w.SetView(s.view.get());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int rows = w.Logic().VisibleRows();
        QVERIFY(rows >= 3);
        QCOMPARE(w.ScrollBar()->maximum(), 10 - rows);
        QCOMPARE(w.ScrollBar()->pageStep(), rows);

        QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {}, w.Rows()->mapTo(&w, NameAt(1)));
        QVERIFY(w.NameEditor()->isVisible());
        QTest::keyClicks(w.NameEditor(), "Renamed");
        w.ScrollBar()->setValue(2);
        QCOMPARE(w.Logic().FirstVisible(), 2);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(QString::fromStdString(s.view->LayerHandler().Name(1)), QStringLiteral("A"));
        QCOMPARE(s.doc.UndoCount(), 0);

        // Rows scrolled: the top row now is layer 2.
        QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {}, w.Rows()->mapTo(&w, NameAt(0)));
        QCOMPARE(w.NameEditor()->text(), QStringLiteral("B"));
        QTest::keyClicks(w.NameEditor(), "Lost");
        QTest::keyClick(w.NameEditor(), Qt::Key_Escape);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(QString::fromStdString(s.view->LayerHandler().Name(2)), QStringLiteral("B"));
        QCOMPARE(s.doc.UndoCount(), 0);

        // The view closing leaves a blank list with nothing to scroll.
        s.view.reset();
        QCOMPARE(w.Logic().Count(), 0);
        QVERIFY(!w.ScrollBar()->isEnabled());
        const QImage img = w.Rows()->grab().toImage();
        QCOMPARE(CountLike(img, EyeBox(0), Pupil), 0);
    }
};

QUILLO_QT_TEST(LayerListWindowTest);
#include "LayerListWindowTest.moc"
