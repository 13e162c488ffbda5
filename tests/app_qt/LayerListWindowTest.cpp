// The "Layers" window on the offscreen platform over a real view: the rows it paints,
// clicking the eye, renaming in place with the keyboard, and scrolling away from a rename.
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "LayerListWindow.h"
#include "TestRegistry.h"

namespace {

// A document with the named layers, the last one current, a view on it, and the list
// showing it with room for about `rows` rows.
struct Scene {
    Scene(std::initializer_list<const char*> names, int rows) {
        for (const char* n : names) {
            auto layer = std::make_unique<TLayer>();
            BITMAPHANDLE b;
            if (L_CreateBitmap(&b, TYPE_CONV, 16, 16, 32, ORDER_BGR, nullptr, TOP_LEFT) == SUCCESS)
                layer->Adopt(b);
            layer->LogicalBpp = 24;
            layer->Name = n;
            doc.Image.Layers.Append(std::move(layer));
        }
        doc.Image.Layers.Seek(doc.Image.Count() - 1);
        view = std::make_unique<TImageView>(doc, host);
        list.resize(220, rows * 24);
        list.SetView(view.get());
        list.show();
    }
    void DoubleClickName(int row) {
        QTest::mouseDClick(list.windowHandle(), Qt::LeftButton, {},
                           list.Rows()->mapTo(&list, QPoint(90, row * 24 + 12)));
    }
    QString Name(int i) { return QString::fromStdString(view->LayerHandler().Name(i)); }
    TImageDoc doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
    LayerListWindow list;
};

// Pixels in a box of the rows' picture that look like the eye's pupil or the marker.
int CountLike(const QImage& img, QRect box, bool (*like)(QRgb)) {
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) n += like(img.pixel(x, y));
    return n;
}
bool Pupil(QRgb c) { return qBlue(c) > qRed(c) + 60 && qBlue(c) > qGreen(c) + 40; }
bool Marker(QRgb c) { return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90; }

QRect EyeBox(int row) { return QRect(2, row * 24 + 2, 16, 20); }
QRect MarkerBox(int row) { return QRect(22, row * 24 + 2, 16, 20); }

} // namespace

class LayerListWindowTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsRowsHidesAndRenames() {
        Scene s({"Background", "Sky", "Tree"}, 5);
        LayerListWindow& w = s.list;
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        // Every layer shows its eye; the marker sits on the current (top) layer only.
        QImage img = w.Rows()->grab().toImage();
        for (int row = 0; row < 3; ++row)
            QVERIFY2(CountLike(img, EyeBox(row), Pupil) > 4, qPrintable(QString::number(row)));
        QCOMPARE(CountLike(img, MarkerBox(0), Marker), 0);
        QVERIFY(CountLike(img, MarkerBox(2), Marker) > 4);

        // Clicking the eye hides the layer and the picture follows.
        QTest::mouseClick(w.Rows(), Qt::LeftButton, {}, QPoint(10, 24 + 12));
        QVERIFY(!s.view->LayerHandler().IsVisible(1));
        img = w.Rows()->grab().toImage();
        QCOMPARE(CountLike(img, EyeBox(1), Pupil), 0);
        QVERIFY(CountLike(img, EyeBox(0), Pupil) > 4);

        // Double-click the name, type a new one, Enter: one undo step.
        s.DoubleClickName(2);
        QVERIFY(w.NameEditor()->isVisible());
        QCOMPARE(w.NameEditor()->text(), QStringLiteral("Tree"));
        QCOMPARE(w.NameEditor()->geometry().top(), 2 * 24);
        QTest::keyClicks(w.NameEditor(), "Oak");
        QTest::keyClick(w.NameEditor(), Qt::Key_Return);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(s.Name(2), QStringLiteral("Oak"));
        QCOMPARE(s.doc.UndoCount(), 1);
    }

    void ScrollingCancelsARenameAndEscapeToo() {
        Scene s({"Background", "A", "B", "C", "D", "E", "F", "G", "H", "I"}, 4);
        LayerListWindow& w = s.list;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int rows = w.Logic().VisibleRows();
        QVERIFY(rows >= 3);
        QCOMPARE(w.ScrollBar()->maximum(), 10 - rows);
        QCOMPARE(w.ScrollBar()->pageStep(), rows);

        s.DoubleClickName(1);
        QVERIFY(w.NameEditor()->isVisible());
        QTest::keyClicks(w.NameEditor(), "Renamed");
        w.ScrollBar()->setValue(2);
        QCOMPARE(w.Logic().FirstVisible(), 2);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(s.Name(1), QStringLiteral("A"));

        // Rows scrolled: the top row now is layer 2.
        s.DoubleClickName(0);
        QCOMPARE(w.NameEditor()->text(), QStringLiteral("B"));
        QTest::keyClicks(w.NameEditor(), "Lost");
        QTest::keyClick(w.NameEditor(), Qt::Key_Escape);
        QVERIFY(!w.NameEditor()->isVisible());
        QCOMPARE(s.Name(2), QStringLiteral("B"));
        QCOMPARE(s.doc.UndoCount(), 0);

        // The view closing leaves a blank list with nothing to scroll.
        s.view.reset();
        QCOMPARE(w.Logic().Count(), 0);
        QVERIFY(!w.ScrollBar()->isEnabled());
        QCOMPARE(CountLike(w.Rows()->grab().toImage(), EyeBox(0), Pupil), 0);
    }
};

QUILLO_QT_TEST(LayerListWindowTest);
#include "LayerListWindowTest.moc"
