// Dialogs rendered with real widgets on the offscreen platform: File New's dialog driven
// through its widgets, hidden controls, widgets following the logic, the common dialogs.
// The checks run inside the dialog while it is up; a failed one ends that body early and
// the dialog is then closed, so the test never hangs.
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <utility>

#include "Cursors.h"
#include "ErrorCodes.h"
#include "FilterDialogs.h"
#include "Options.h"
#include "QtCommonDialogs.h"
#include "QtDialogHost.h"
#include "ResizeDialog.h"
#include "TestRegistry.h"

namespace {

template <class W = QWidget>
W* Control(QWidget* dialog, int id) {
    return dialog ? dialog->findChild<W*>(QStringLiteral("control%1").arg(id)) : nullptr;
}

void WhenDialogShows(std::function<void(QDialog*)> body) {
    QTimer::singleShot(0, [body] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        body(dialog);
        if (dialog && dialog->isVisible()) dialog->reject();
    });
}

// A dialog with one image pane that records the pane's notifications.
class TPaneDialog : public TDialog {
public:
    static constexpr int kPane = 501;
    explicit TPaneDialog(const BITMAPHANDLE* bitmap)
        : TDialog(TDialogTemplate{
              9001,
              "Pane",
              150,
              50,
              {{kPane, TControlKind::ImagePane, "", RECT{10, 10, 50, 40}, true, false},
               {IDOK, TControlKind::PushButton, "OK", RECT{60, 10, 140, 38}, true, false}}}),
          bitmap_(bitmap) {}
    std::vector<std::pair<int, QPoint>> Clicks;

protected:
    void SetupWindow() override {
        TDialog::SetupWindow();
        SetPaneBitmap(kPane, bitmap_);
    }
    void EvCommand(int id, int code) override {
        if (id == kPane) Clicks.emplace_back(code, QPoint(LastPanePoint().x, LastPanePoint().y));
        TDialog::EvCommand(id, code);
    }

private:
    const BITMAPHANDLE* bitmap_;
};

// A dialog with a colour grid of 20 cells that records double clicks on it.
class TGridDialog : public TDialog {
public:
    static constexpr int kGrid = 105;
    TGridDialog()
        : TDialog(TDialogTemplate{
              9002,
              "Grid",
              200,
              200,
              {{kGrid, TControlKind::ColorGrid, "", RECT{10, 10, 170, 170}, true, false}}}) {}
    int DoubleClicks = 0;

protected:
    void SetupWindow() override {
        std::vector<COLORREF> colors(20, RGB(0, 0, 255));
        colors[17] = RGB(255, 0, 0);
        SetGridColors(kGrid, colors);
    }
    void EvCommand(int id, int code) override {
        if (id == kGrid && code == 1) ++DoubleClicks;
        TDialog::EvCommand(id, code);
    }
};

} // namespace

class DialogHostTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        oldUnits_ = Options().MeasurementUnits;
        Options().MeasurementUnits = UNITS_PIXELS;
        InstallQtDialogHost(nullptr);
    }
    void cleanup() {
        UninstallQtDialogHost();
        Options().MeasurementUnits = oldUnits_;
    }

    void ColorGridShowsItsCellsAndTakesClicksAndArrowKeys() {
        TGridDialog grid;
        WhenDialogShows([&](QDialog* d) {
            QWidget* w = Control(d, TGridDialog::kGrid);
            QVERIFY(w);
            // Cells of 10 x 10 pixels: entry 17 is in the second row, second column; cells
            // past the count are not drawn.
            const QImage shot = w->grab().toImage();
            QCOMPARE(shot.pixelColor(15, 15), QColor(255, 0, 0));
            QCOMPARE(shot.pixelColor(35, 5), QColor(0, 0, 255));
            QVERIFY(shot.pixelColor(45, 15) != QColor(0, 0, 255));
            QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(35, 5));
            QCOMPARE(grid.GetSelIndex(TGridDialog::kGrid), 3);
            QTest::keyClick(w, Qt::Key_Down);
            QCOMPARE(grid.GetSelIndex(TGridDialog::kGrid), 19);
            QTest::keyClick(w, Qt::Key_Down);
            QCOMPARE(grid.GetSelIndex(TGridDialog::kGrid), 19);
            QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(5, 5));
            QCOMPARE(grid.GetSelIndex(TGridDialog::kGrid), 0);
            QCOMPARE(grid.DoubleClicks, 1);
        });
        grid.Execute();
    }

    void NewImageDialogTakesTypedSizeAndBitsThroughItsWidgets() {
        WhenDialogShows([](QDialog* d) {
            auto* width = Control<QLineEdit>(d, IDC_WIDTH);
            auto* height = Control<QLineEdit>(d, IDC_HEIGHT);
            auto* bits32 = Control<QRadioButton>(d, IDC_BPP32);
            auto* ok = Control<QPushButton>(d, IDOK);
            QVERIFY(width && height && bits32 && ok);
            QCOMPARE(width->text(), QStringLiteral("100"));
            // File New has neither presets nor the aspect lock, but the bits are shown.
            for (int id : {IDC_PRESET400, IDC_CUSTOM, IDC_KEEPASPECT})
                QVERIFY2(!Control(d, id)->isVisible(), qPrintable(QString::number(id)));
            QVERIFY(bits32->isVisible());

            // Keys a whole number of pixels cannot hold are refused as they are typed.
            width->selectAll();
            QTest::keyClicks(width, "6x4.-0");
            QCOMPARE(width->text(), QStringLiteral("640"));
            height->selectAll();
            QTest::keyClicks(height, "480");
            // The group's mnemonic goes to its checked button (24 bits); the labels' to their edits.
            d->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(d));
            QTest::keyClick(d, Qt::Key_B, Qt::AltModifier);
            QCOMPARE(d->focusWidget(), Control(d, IDC_BPP1 + 4));
            QTest::keyClick(d, Qt::Key_W, Qt::AltModifier);
            QCOMPARE(d->focusWidget(), Control(d, IDC_WIDTH));
            QTest::mouseClick(bits32, Qt::LeftButton);
            QVERIFY(!Control<QRadioButton>(d, IDC_BPP1 + 4)->isChecked());
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        int w = 0, h = 0, bpp = 0;
        QVERIFY(RunNewImageDialog(w, h, bpp));
        QCOMPARE(QList<int>({w, h, bpp}), QList<int>({640, 480, 32}));
    }

    // The units list and the spins change the texts through the logic; the widgets must
    // show what the logic wrote, and Escape must cancel.
    void WidgetsFollowTheLogicAndEscapeCancels() {
        WhenDialogShows([](QDialog* d) {
            auto* units = Control<QComboBox>(d, IDC_UNITS);
            auto* spin = Control<QScrollBar>(d, IDC_WIDTHSPIN);
            QVERIFY(units && spin);
            units->setFocus();
            QTest::keyClick(units, Qt::Key_Up); // Pixels -> Inches
            QCOMPARE(units->currentText(), QStringLiteral("Inches"));
            QCOMPARE(Control<QLineEdit>(d, IDC_WIDTH)->text(), QStringLiteral("1.39"));
            spin->triggerAction(QAbstractSlider::SliderSingleStepSub); // the up arrow
            QCOMPARE(Control<QLineEdit>(d, IDC_WIDTH)->text(), QStringLiteral("1.40"));
            QCOMPARE(Control<QLineEdit>(d, IDC_HEIGHT)->text(), QStringLiteral("1.39"));
            QTest::keyClick(d, Qt::Key_Escape);
        });
        int w = 0, h = 0, bpp = 0;
        QVERIFY(!RunNewImageDialog(w, h, bpp));
        QCOMPARE(Options().MeasurementUnits, int(UNITS_INCHES));
    }

    // The open dialog starts in the folder and on the type asked for, and reports the type
    // the user ended on; saving adds the default extension; closing unanswered cancels.
    void FileDialogsStartWhereAskedAndReportTheTypeChosen() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile(dir.filePath("a.png")).open(QIODevice::WriteOnly);
        QFile(dir.filePath("b.jpg")).open(QIODevice::WriteOnly);
        QtCommonDialogs dialogs;
        TFileDialogRequest request;
        request.Caption = "Open";
        request.Filters = {{"Portable Network Graphics", "*.png", "png"},
                           {"JPEG File Interchange Format", "*.jpg;*.jff", "jpg"}};
        request.FilterIndex = 1;
        request.InitialDir = dir.path().toStdString();
        request.MultipleSelection = true;
        // QFileDialog hides accept(), so the answers go through QDialog's.
        WhenDialogShows([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            QVERIFY(fd);
            QCOMPARE(fd->selectedNameFilter(),
                     QStringLiteral("JPEG File Interchange Format (*.jpg *.jff)"));
            QCOMPARE(fd->directory().absolutePath(), QDir(dir.path()).absolutePath());
            fd->selectNameFilter(QtNameFilters(request.Filters).first());
            fd->selectFile(dir.filePath("a.png"));
            d->accept();
        });
        TFileDialogResult result;
        QVERIFY(dialogs.GetOpenFileNames(request, result));
        QCOMPARE(result.FilterIndex, 0);
        QCOMPARE(result.Paths, std::vector<std::string>{dir.filePath("a.png").toStdString()});

        request.DefaultExt = "png";
        request.FilterIndex = 0;
        request.OverwritePrompt = true;
        WhenDialogShows([](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            QVERIFY(fd);
            fd->selectFile("new");
            d->accept();
        });
        QVERIFY(dialogs.GetSaveFileName(request, result));
        QCOMPARE(result.Paths, std::vector<std::string>{dir.filePath("new.png").toStdString()});
        // A bare name gets the extension of the type selected, not of the first one.
        WhenDialogShows([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            QVERIFY(fd);
            // As a user picks it: through the type list, which is what Qt listens to.
            auto* types = fd->findChild<QComboBox*>("fileTypeCombo");
            QVERIFY(types);
            types->setCurrentIndex(1);
            emit types->activated(1);
            emit types->textActivated(types->itemText(1));
            fd->selectFile("other");
            d->accept();
        });
        QVERIFY(dialogs.GetSaveFileName(request, result));
        QCOMPARE(result.Paths, std::vector<std::string>{dir.filePath("other.jpg").toStdString()});
        QCOMPARE(result.FilterIndex, 1);

        WhenDialogShows([](QDialog*) {});
        QVERIFY(!dialogs.GetOpenFileNames(request, result));
    }

    // The colour chooser starts on the colour given and keeps the program's custom colours
    // in step with the ones the user edits.
    void ColourChooserKeepsCustomColours() {
        QtCommonDialogs dialogs;
        TCustomColors custom{};
        custom[3] = RGB(1, 2, 3);
        COLORREF colour = RGB(200, 100, 50);
        WhenDialogShows([](QDialog* d) {
            auto* cd = qobject_cast<QColorDialog*>(d);
            QVERIFY(cd);
            QCOMPARE(cd->currentColor(), QColor(200, 100, 50));
            QCOMPARE(QColorDialog::customColor(3), QColor(1, 2, 3));
            cd->setCurrentColor(QColor(10, 20, 30));
            QColorDialog::setCustomColor(5, QColor(9, 9, 9));
            cd->accept();
        });
        QVERIFY(dialogs.ChooseColor(colour, custom));
        QCOMPARE(colour, RGB(10, 20, 30));
        QCOMPARE(custom[5], RGB(9, 9, 9));
        QCOMPARE(custom[3], RGB(1, 2, 3));
    }

    // A bottom-up palette bitmap shows the right way up, centred, in its true colours, and
    // clicks reach the logic with the button and the point.
    void ImagePaneShowsTheBitmapAndReportsClicks() {
        BITMAPHANDLE b{};
        QCOMPARE(L_CreateBitmap(&b, 1, 4, 3, 8, 1, nullptr, BOTTOM_LEFT), SUCCESS);
        L_PutPixelColor(&b, 0, 0, RGB(255, 0, 0));
        L_PutPixelColor(&b, 2, 3, RGB(255, 255, 255));
        TPaneDialog dialog(&b);
        WhenDialogShows([](QDialog* d) {
            QWidget* pane = Control(d, TPaneDialog::kPane);
            QVERIFY(pane);
            const QPoint origin = pane->mapTo(d, QPoint((40 - 4) / 2, (30 - 3) / 2));
            const QImage shot = d->grab().toImage();
            const qreal dpr = shot.devicePixelRatio();
            const auto at = [&](int x, int y) {
                return QColor(shot.pixel(int((origin.x() + x) * dpr), int((origin.y() + y) * dpr)));
            };
            QCOMPARE(at(0, 0), QColor(255, 0, 0));
            QCOMPARE(at(3, 2), QColor(255, 255, 255));
            QCOMPARE(at(1, 1), QColor(0, 0, 0));
            QTest::mouseClick(pane, Qt::RightButton, {}, QPoint(19, 14));
            QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(1, 2));
            QTest::mouseClick(Control<QPushButton>(d, IDOK), Qt::LeftButton);
        });
        const int result = dialog.Execute();
        L_FreeBitmap(&b);
        QCOMPARE(result, int(IDOK));
        QCOMPARE(dialog.Clicks,
                 (std::vector<std::pair<int, QPoint>>{{2, QPoint(19, 14)}, {1, QPoint(1, 2)}}));
    }

    // The magnifier shows over the panes a click zooms and the arrow over the thumbnail,
    // which only shows the chosen background.
    void OnlyZoomingPanesShowTheMagnifier() {
        BITMAPHANDLE b{};
        QCOMPARE(L_CreateBitmap(&b, TYPE_CONV, 40, 30, 24, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
        TLeadBitmapX source;
        source.Adopt(b);
        TUnderlayDialog dialog(source);
        WhenDialogShows([](QDialog* d) {
            const QImage magnifier = CursorFor(18, d->devicePixelRatioF()).pixmap().toImage();
            QVERIFY(!magnifier.isNull());
            for (int id : {int(IDC_ORIGINAL), int(IDC_PREVIEW), int(IDC_UNDERLAY_THUMB)}) {
                QWidget* pane = Control(d, id);
                QVERIFY(pane);
                const bool zooms = id != IDC_UNDERLAY_THUMB;
                QCOMPARE(pane->testAttribute(Qt::WA_SetCursor), zooms);
                QCOMPARE(pane->cursor().pixmap().toImage() == magnifier, zooms);
            }
        });
        dialog.Execute();
    }

private:
    int oldUnits_ = UNITS_PIXELS;
};

QUILLO_QT_TEST(DialogHostTest);
#include "DialogHostTest.moc"
