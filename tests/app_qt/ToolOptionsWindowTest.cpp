// The tool options bar in the real main window: a tool chosen on the Tools bar brings up its
// panel, keys typed into a field reach that document's option, and another document window
// brings up its own values.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "CommandIds.h"
#include "FrameFixture.h"
#include "TestRegistry.h"
#include "ToolOptionsWindow.h"

namespace {

struct TFixture : TFrameFixture {
    ToolOptionsWindow& Bar() const { return *frame.ToolOptions(); }
    // Replaces a field's text with keys, as a user selects it all and types.
    void Type(int id, const QString& text) {
        QLineEdit* edit = Bar().Edit(id);
        QTest::mouseDClick(edit, Qt::LeftButton);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
};

} // namespace

class ToolOptionsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void TypedWidthsReachTheirOwnDocument() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.Bar().show();
        fx.manager.OpenDroppedFiles({kSamplePng});
        TImageView* first = fx.frame.ActiveView();
        QVERIFY(first);
        QCOMPARE(fx.Bar().Title(), QStringLiteral("Tool Options"));
        QVERIFY(!fx.Bar().Edit(IDC_OPT_VALUE1)->isVisible());

        QVERIFY(fx.ChooseTool(CM_BRUSH_TOOL));
        QCOMPARE(fx.Bar().Title(), QStringLiteral("Brush Options"));
        QLineEdit* width = fx.Bar().Edit(IDC_OPT_VALUE1);
        QVERIFY(width->isVisible());
        QCOMPARE(fx.Bar().NameLabel(IDC_OPT_VALUE1)->text(), QStringLiteral("Width"));
        QCOMPARE(fx.Bar().UnitLabel(IDC_OPT_VALUE2)->text(), QStringLiteral("%"));
        QCOMPARE(width->text(), QStringLiteral("10"));
        fx.Type(IDC_OPT_VALUE1, QStringLiteral("25"));
        QCOMPARE(first->ToolOptions.BrushWidth, 25);
        fx.Type(IDC_OPT_VALUE1, QStringLiteral("x"));
        QCOMPARE(first->ToolOptions.BrushWidth, 0);
        fx.Type(IDC_OPT_VALUE1, QStringLiteral("33"));
        // Enter gives the keyboard back to the image.
        QTest::keyClick(width, Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([&] { return !fx.Bar().isActiveWindow(); }));

        // A second document keeps its own width; back in the first, the bar shows 33 again.
        fx.manager.OpenDroppedFiles({kSampleQlx});
        TImageView* second = fx.frame.ActiveView();
        QVERIFY(second && second != first);
        QCOMPARE(fx.Bar().Title(), QStringLiteral("Tool Options"));
        QVERIFY(fx.ChooseTool(CM_BRUSH_TOOL));
        QCOMPARE(width->text(), QStringLiteral("10"));
        fx.Type(IDC_OPT_VALUE1, QStringLiteral("4"));
        QCOMPARE(second->ToolOptions.BrushWidth, 4);
        QCOMPARE(first->ToolOptions.BrushWidth, 33);
        QMdiSubWindow* firstWindow = fx.frame.MdiArea()->subWindowList().first();
        fx.frame.MdiArea()->setActiveSubWindow(firstWindow);
        QCOMPARE(fx.frame.ActiveView(), first);
        QCOMPARE(width->text(), QStringLiteral("33"));

        // Unticking Fill greys Outline and leaves it ticked: the rectangle is hollow.
        QVERIFY(fx.ChooseTool(CM_RECTANGLE_TOOL));
        QCheckBox* outline = fx.Bar().CheckBox(IDC_OPT_FLAG1);
        QCheckBox* fill = fx.Bar().CheckBox(IDC_OPT_FLAG2);
        QCOMPARE(fill->text(), QStringLiteral("Fill"));
        QTest::mouseClick(fill, Qt::LeftButton);
        QCOMPARE(first->ToolOptions.RectangleFillStyle, 0);
        QVERIFY(outline->isChecked() && !outline->isEnabled());

        // The text panel's font combo lists the screen's families.
        QVERIFY(fx.ChooseTool(CM_TEXT_TOOL));
        QVERIFY(fx.Bar().FontCombo()->isVisible());
        QVERIFY(fx.Bar().FontCombo()->count() > 1);
        QCOMPARE(fx.Bar().FontCombo()->currentText(), QStringLiteral("Times New Roman"));

        // Collapsed, only the caption is left.
        const int expanded = fx.Bar().height();
        QTest::mouseClick(fx.Bar().CollapseButton(), Qt::LeftButton);
        QVERIFY(fx.Bar().height() < expanded / 2);
        QVERIFY(!fx.Bar().FontCombo()->isVisible());
        QTest::mouseClick(fx.Bar().CollapseButton(), Qt::LeftButton);
        QCOMPARE(fx.Bar().height(), expanded);

        // The last window closed, nothing is bound.
        QVERIFY(fx.manager.CloseAll());
        QCOMPARE(fx.Bar().Title(), QStringLiteral("Tool Options"));
        QVERIFY(!fx.Bar().Logic().View());
    }
};

QUILLO_QT_TEST(ToolOptionsWindowTest);
#include "ToolOptionsWindowTest.moc"
