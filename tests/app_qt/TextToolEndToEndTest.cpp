// The text tool in the real main window: chosen on the Tools bar, a frame dragged with the
// mouse, words typed with key events into the edit widget floating over the image, the
// size changed through the view's options while typing, committed by a click, undone.
#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

#include "CommandIds.h"
#include "FrameFixture.h"
#include "TestRegistry.h"
#include "TextTool.h"
#include "ToolOptionsWindow.h"
#include "ViewInteraction.h"

namespace {

struct TFixture : TFrameFixture {
    TTextPaintTool* Tool() const {
        auto* tools = dynamic_cast<TViewInteraction*>(View().Tools());
        return tools ? dynamic_cast<TTextPaintTool*>(tools->PaintTool()) : nullptr;
    }
    // The number field of the options bar's current panel that has this name.
    QLineEdit* OptionField(const QString& name) const {
        ToolOptionsWindow* bar = frame.ToolOptions();
        for (int id : {IDC_OPT_VALUE1, IDC_OPT_VALUE2, IDC_OPT_VALUE3, IDC_OPT_VALUE4})
            if (!bar->Edit(id)->isHidden() && bar->NameLabel(id)->text() == name)
                return bar->Edit(id);
        return nullptr;
    }
    // Types a text size into the options bar's field, as a user would, and gives the
    // keyboard back to the edit.
    bool SetTextSize(int points, QTextEdit* edit) {
        QLineEdit* size = OptionField("Size");
        if (!size) return false;
        size->setFocus();
        size->selectAll();
        QTest::keyClicks(size, QString::number(points));
        QTest::keyClick(size, Qt::Key_Return);
        return View().ToolOptions.TextSize == points &&
               QTest::qWaitFor([&] { return edit->hasFocus(); });
    }
    void DragFrame(QPoint a, QPoint b) { Drag(a, b); }
    // Opens the sample, drags a text frame between two image points and waits until its
    // edit has the keyboard; null when a step fails.
    QTextEdit* StartFrame(QPoint from, QPoint to) {
        if (!ShowWith(kSamplePng) || !ChooseTool(CM_TEXT_TOOL)) return nullptr;
        DragFrame(At(from.x(), from.y()), At(to.x(), to.y()));
        QTextEdit* edit = Edit();
        return edit && QTest::qWaitFor([&] { return edit->hasFocus(); }) ? edit : nullptr;
    }
    QTextEdit* Edit() const {
        for (QTextEdit* e : Canvas()->findChildren<QTextEdit*>())
            if (e->isVisible()) return e;
        return nullptr;
    }
};

// Pixels of the current layer that differ between two copies of it.
int Changed(const BITMAPHANDLE& a, const BITMAPHANDLE& b) {
    int n = 0;
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x)
            n += L_GetPixelColor(&a, y, x) != L_GetPixelColor(&b, y, x);
    return n;
}

} // namespace

class TextToolEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void TypeIntoAFrameResizeCommitAndUndo() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(fx.Host());
        TLayeredImage& image = fx.View().GetImageData()->Image;
        BITMAPHANDLE before;
        QCOMPARE(L_CopyBitmap(&before, image.GetCurrentLayer()), SUCCESS);

        QVERIFY(fx.ChooseTool(CM_TEXT_TOOL));
        fx.DragFrame(fx.At(10, 10), fx.At(150, 60));
        QVERIFY(fx.Tool() && fx.Tool()->Frame());
        QTextEdit* edit = fx.Edit();
        QVERIFY(edit);
        QVERIFY(QTest::qWaitFor([&] { return edit->hasFocus(); }));
        const QImage empty = fx.Canvas()->grab().toImage();

        QTest::keyClicks(edit, "Hi");
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, "there");
        QCOMPARE(fx.Tool()->Frame()->Text(), std::string("Hi\nthere"));
        // The view draws the typed text over the image; the layer is untouched so far.
        QVERIFY(QTest::qWaitFor([&] { return fx.Canvas()->grab().toImage() != empty; }));
        QCOMPARE(Changed(before, *image.GetCurrentLayer()), 0);

        // The size typed into the options bar's own field, as a user would.
        const int em = GetFontMetrics(fx.Tool()->Frame()->Font()).tmEmHeight;
        QLineEdit* size = fx.OptionField("Size");
        QVERIFY(size);
        QCOMPARE(size->text(), QString::number(fx.View().ToolOptions.TextSize));
        size->setFocus();
        size->selectAll();
        QTest::keyClicks(size, QString::number(2 * fx.View().ToolOptions.TextSize));
        QCOMPARE(GetFontMetrics(fx.Tool()->Frame()->Font()).tmEmHeight, 2 * em);
        QCOMPARE(edit->font().pixelSize(), 2 * em);
        QTest::keyClick(size, Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([&] { return edit->hasFocus(); }));

        // The keyboard is the text frame's again: typing goes on there.
        QTest::keyClicks(edit, "!");
        QCOMPARE(fx.Tool()->Frame()->Text(), std::string("Hi\nthere!"));

        // A click outside commits, and nothing else starts.
        QTest::mouseClick(fx.Canvas(), Qt::LeftButton, {}, fx.At(250, 150));
        QVERIFY(!fx.Tool());
        QVERIFY(Changed(before, *image.GetCurrentLayer()) > 50);
        QCOMPARE(fx.View().GetImageData()->UndoName(), std::string("Text"));

        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Changed(before, *image.GetCurrentLayer()), 0);
        L_FreeBitmap(&before);
    }

    // The edit widget's caret and selection are only right if it breaks a long line where
    // the picture does, wherever its own font metrics would have broken it.
    void ALongLineWrapsInTheEditAsInTheImage() {
        TFixture fx;
        QTextEdit* edit = fx.StartFrame(QPoint(5, 5), QPoint(97, 40));
        QVERIFY(edit);
        const QString typed =
            "Pack my box with five dozen liquor jugs, then "
            "Supercalifragilisticexpialidociously quick zephyrs";
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, "end");
        // At each size the edit breaks where the picture does and its lines, hard breaks
        // and wrapped ones alike, start at the picture's line tops, so the caret sits on
        // the drawn text.
        TTextFrame& frame = *fx.Tool()->Frame();
        std::vector<TTextLine> drawn;
        for (int points : {12, 8, 14}) {
            QVERIFY(fx.SetTextSize(points, edit));
            const std::string text = frame.Text();
            QCOMPARE(QString::fromStdString(text), typed + "\nend");
            HDC dc = fx.View().Host().BackingDC();
            TDCStateGuard guard(dc);
            dc->SelectFont(frame.Font());
            RECT tall = frame.ContentTextRect();
            tall.bottom = tall.top + 100000;
            drawn = LayoutText(dc, text, tall, 0);
            QVERIFY(drawn.size() >= 5);

            size_t n = 0;
            for (QTextBlock b = edit->document()->begin(); b.isValid(); b = b.next()) {
                QTextLayout* layout = b.layout();
                const qreal blockTop = edit->document()->documentLayout()->blockBoundingRect(b).y();
                for (int i = 0; i < layout->lineCount(); ++i, ++n) {
                    QVERIFY(n < drawn.size());
                    const QTextLine line = layout->lineAt(i);
                    QString part = b.text().mid(line.textStart(), line.textLength());
                    part.remove(QChar::LineSeparator);
                    // Trailing spaces draw nothing; the picture keeps or drops them by
                    // where it cut.
                    while (part.endsWith(' ')) part.chop(1);
                    QString want = QString::fromStdString(
                        text.substr(drawn[n].Begin, drawn[n].End - drawn[n].Begin));
                    while (want.endsWith(' ')) want.chop(1);
                    QCOMPARE(part, want);
                    const int top = drawn[n].Y - tall.top;
                    QCOMPARE(qRound(blockTop + line.y()), top);
                    QTextCursor at(b);
                    at.setPosition(b.position() + line.textStart());
                    QCOMPARE(edit->cursorRect(at).top(), top);
                }
            }
            QCOMPARE(n, drawn.size());
        }
        const std::string text = frame.Text();
        // Backspace at the start of a wrapped line takes the character before the break
        // (the text is ASCII: the second line starts one soft break after its offset).
        QTextCursor c = edit->textCursor();
        c.setPosition(int(drawn[1].Begin) + 1);
        edit->setTextCursor(c);
        QTest::keyClick(edit, Qt::Key_Backspace);
        std::string less = text;
        less.erase(drawn[1].Begin - 1, 1);
        QCOMPARE(frame.Text(), less);
    }

    // However the font list of the options bar closes (Esc, a click outside it, a choice),
    // the keyboard goes back to the text frame and typing goes on there.
    void AClosedOptionsComboGivesTheKeyboardBackToTheText() {
        TFixture fx;
        QTextEdit* edit = fx.StartFrame(QPoint(10, 10), QPoint(150, 60));
        QVERIFY(edit);
        ToolOptionsWindow* bar = fx.frame.ToolOptions();
        if (!bar->isVisible()) fx.frame.CommandAction(CM_VIEW_TOOLOPTIONS)->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(bar));
        fx.frame.activateWindow();
        QVERIFY(QTest::qWaitFor([&] { return edit->hasFocus(); }));
        QComboBox* font = bar->FontCombo();
        QVERIFY(font->isVisible() && font->count() > 1);
        std::string typed;
        for (const char* way : {"Esc", "outside", "choice"}) {
            // A window manager hands the activation to the window clicked in.
            bar->activateWindow();
            QVERIFY(QTest::qWaitFor([&] { return QApplication::activeWindow() == bar; }));
            QTest::mouseClick(font, Qt::LeftButton);
            QAbstractItemView* list = font->view();
            QVERIFY2(QTest::qWaitFor([&] { return list->isVisible(); }), way);
            if (way == std::string("Esc"))
                QTest::keyClick(list, Qt::Key_Escape);
            else if (way == std::string("outside"))
                // The open list has the mouse: a click beside it comes to it.
                QTest::mouseClick(list->window(), Qt::LeftButton, {}, QPoint(-20, -20));
            else {
                QTest::keyClick(list, Qt::Key_Down);
                QTest::keyClick(list, Qt::Key_Return);
            }
            QVERIFY2(QTest::qWaitFor([&] { return !list->isVisible(); }), way);
            QVERIFY2(QTest::qWaitFor([&] { return edit->hasFocus(); }), way);
            QTest::keyClicks(edit, "a");
            typed += "a";
            QCOMPARE(fx.Tool()->Frame()->Text(), typed);
        }
    }
};

QUILLO_QT_TEST(TextToolEndToEndTest);
#include "TextToolEndToEndTest.moc"
