// Dialogs rendered with real widgets on the offscreen platform: File New's dialog driven
// through its widgets, hidden controls, widgets following the logic, and a picture of it.
#include <QApplication>
#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <utility>

#include "ErrorCodes.h"
#include "Options.h"
#include "QtCommonDialogs.h"
#include "QtDialogHost.h"
#include "ResizeDialog.h"
#include "TestRegistry.h"

namespace {

template <class W> W* Control(QWidget* dialog, int id) {
    return dialog ? dialog->findChild<W*>(QStringLiteral("control%1").arg(id)) : nullptr;
}

// Runs `body` on the modal dialog once it is up. Whatever body does, the dialog is closed
// afterwards so a failing check cannot leave the test waiting forever.
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
    explicit TPaneDialog(const BITMAPHANDLE* bitmap) : TDialog(Template()), bitmap_(bitmap) {}
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
    static TDialogTemplate Template() {
        TControlTemplate pane;
        pane.Id = kPane;
        pane.Kind = TControlKind::ImagePane;
        pane.Rect = RECT{10, 10, 50, 40};
        TControlTemplate ok;
        ok.Id = IDOK;
        ok.Kind = TControlKind::PushButton;
        ok.Text = "OK";
        ok.Rect = RECT{60, 10, 140, 38};
        return TDialogTemplate{9001, "Pane", 150, 50, {pane, ok}};
    }
    const BITMAPHANDLE* bitmap_;
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

    void NewImageDialogTakesTypedSizeAndBitsThroughItsWidgets() {
        QString widthShown, okText;
        bool presetsHidden = false, lockHidden = false, bitsShown = false, twentyFourOff = false;
        QWidget* focusAfterAltB = nullptr;
        QWidget* focusAfterAltW = nullptr;
        QString focusedName24, focusedNameWidth;
        WhenDialogShows([&](QDialog* d) {
            if (!d) return;
            QLineEdit* width = Control<QLineEdit>(d, IDC_WIDTH);
            QLineEdit* height = Control<QLineEdit>(d, IDC_HEIGHT);
            QRadioButton* bits32 = Control<QRadioButton>(d, IDC_BPP32);
            QPushButton* ok = Control<QPushButton>(d, IDOK);
            if (!width || !height || !bits32 || !ok) return;
            widthShown = width->text();
            okText = ok->text();
            presetsHidden = !Control<QWidget>(d, IDC_PRESET400)->isVisible() &&
                            !Control<QWidget>(d, IDC_CUSTOM)->isVisible();
            lockHidden = !Control<QWidget>(d, IDC_KEEPASPECT)->isVisible();
            bitsShown = bits32->isVisible();

            width->selectAll();
            QTest::keyClicks(width, "640");
            height->selectAll();
            QTest::keyClicks(height, "480");
            // The group's mnemonic goes to its checked button; the labels' to their edits.
            d->activateWindow();
            if (!QTest::qWaitForWindowActive(d)) return;
            QTest::keyClick(d, Qt::Key_B, Qt::AltModifier);
            focusAfterAltB = d->focusWidget();
            QTest::keyClick(d, Qt::Key_W, Qt::AltModifier);
            focusAfterAltW = d->focusWidget();
            QTest::mouseClick(bits32, Qt::LeftButton);
            twentyFourOff = !Control<QRadioButton>(d, IDC_BPP1 + 4)->isChecked();

            QApplication::processEvents();
            QDir().mkpath(QUILLO_TEST_OUT);
            d->grab().save(QUILLO_TEST_OUT "/new-image-dialog.png");
            focusedName24 = focusAfterAltB ? focusAfterAltB->objectName() : QString();
            focusedNameWidth = focusAfterAltW ? focusAfterAltW->objectName() : QString();
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        int w = 0, h = 0, bpp = 0;
        QVERIFY(RunNewImageDialog(w, h, bpp));
        QCOMPARE(focusedName24, QStringLiteral("control118"));
        QCOMPARE(focusedNameWidth, QStringLiteral("control103"));
        QCOMPARE(widthShown, QStringLiteral("100"));
        QCOMPARE(okText, QStringLiteral("OK"));
        QVERIFY(presetsHidden);
        QVERIFY(lockHidden);
        QVERIFY(bitsShown);
        QVERIFY(twentyFourOff);
        QCOMPARE(w, 640);
        QCOMPARE(h, 480);
        QCOMPARE(bpp, 32);
    }

    // The units list and the spins change the texts through the logic; the widgets must
    // show what the logic wrote, and Escape must cancel.
    void WidgetsFollowTheLogicAndEscapeCancels() {
        QString afterUnits, afterSpin, heightAfterSpin, unitShown;
        WhenDialogShows([&](QDialog* d) {
            QComboBox* units = Control<QComboBox>(d, IDC_UNITS);
            QScrollBar* spin = Control<QScrollBar>(d, IDC_WIDTHSPIN);
            if (!units || !spin) return;
            units->setFocus();
            QTest::keyClick(units, Qt::Key_Up); // Pixels -> Inches
            unitShown = units->currentText();
            afterUnits = Control<QLineEdit>(d, IDC_WIDTH)->text();
            spin->triggerAction(QAbstractSlider::SliderSingleStepSub); // the up arrow
            afterSpin = Control<QLineEdit>(d, IDC_WIDTH)->text();
            heightAfterSpin = Control<QLineEdit>(d, IDC_HEIGHT)->text();
            QTest::keyClick(d, Qt::Key_Escape);
        });
        int w = 0, h = 0, bpp = 0;
        QVERIFY(!RunNewImageDialog(w, h, bpp));
        QCOMPARE(unitShown, QStringLiteral("Inches"));
        QCOMPARE(afterUnits, QStringLiteral("1.39"));
        QCOMPARE(afterSpin, QStringLiteral("1.40"));
        QCOMPARE(heightAfterSpin, QStringLiteral("1.39"));
        QCOMPARE(Options().MeasurementUnits, int(UNITS_INCHES));
    }

    // Resize keeps its labels' mnemonics working and its presets reachable.
    void ResizeShowsPresetsAndLabelsJumpToTheirEdits() {
        bool presetShown = false;
        QString heightAfterPreset;
        QWidget* widthBuddy = nullptr;
        QWidget* widthEdit = nullptr;
        WhenDialogShows([&](QDialog* d) {
            if (!d) return;
            QRadioButton* p400 = Control<QRadioButton>(d, IDC_PRESET400);
            if (!p400) return;
            presetShown = p400->isVisible();
            QTest::mouseClick(p400, Qt::LeftButton);
            heightAfterPreset = Control<QLineEdit>(d, IDC_HEIGHT)->text();
            widthEdit = Control<QLineEdit>(d, IDC_WIDTH);
            for (QLabel* l : d->findChildren<QLabel*>())
                if (l->text() == "&Width:") widthBuddy = l->buddy();
            QDir().mkpath(QUILLO_TEST_OUT);
            d->grab().save(QUILLO_TEST_OUT "/resize-dialog.png");
            QTest::mouseClick(Control<QPushButton>(d, IDOK), Qt::LeftButton);
        });
        TResizeTransfer& t = SizeDialogTransfer(IDD_RESIZE);
        ResetResizeTransfer(t);
        TResizeDialog dialog(120, 80, 72, 72, IDD_RESIZE, t);
        QCOMPARE(dialog.Execute(), int(IDOK));
        QVERIFY(presetShown);
        QCOMPARE(heightAfterPreset, QStringLiteral("320"));
        QVERIFY(widthEdit && widthBuddy == widthEdit);
        QCOMPARE(t.Width, std::string("480"));
        QVERIFY(t.Presets[0]);
    }

    // The open dialog starts in the folder and on the type asked for, and reports the type
    // the user ended on; saving adds the default extension.
    void FileDialogsStartWhereAskedAndReportTheTypeChosen() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile(dir.filePath("a.png")).open(QIODevice::WriteOnly);
        QFile(dir.filePath("b.jpg")).open(QIODevice::WriteOnly);
        QtCommonDialogs dialogs;
        TFileDialogRequest request;
        request.Caption = "Open";
        request.Filters = {{"Portable Network Graphics", "*.png"}, {"JPEG File Interchange Format", "*.jpg;*.jff"}};
        request.FilterIndex = 1;
        request.InitialDir = dir.path().toStdString();
        request.MultipleSelection = true;
        QString startFilter, startDir;
        WhenDialogShows([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            if (!fd) return;
            startFilter = fd->selectedNameFilter();
            startDir = fd->directory().absolutePath();
            fd->selectNameFilter(QtNameFilters(request.Filters).first());
            fd->selectFile(dir.filePath("a.png"));
            d->accept(); // through QDialog: QFileDialog hides it
        });
        TFileDialogResult result;
        QVERIFY(dialogs.GetOpenFileNames(request, result));
        QCOMPARE(startFilter, QStringLiteral("JPEG File Interchange Format (*.jpg *.jff)"));
        QCOMPARE(startDir, QDir(dir.path()).absolutePath());
        QCOMPARE(result.FilterIndex, 0);
        QCOMPARE(result.Paths, std::vector<std::string>{dir.filePath("a.png").toStdString()});

        request.DefaultExt = "png";
        request.FilterIndex = 0;
        request.OverwritePrompt = true;
        WhenDialogShows([&](QDialog* d) {
            if (auto* fd = qobject_cast<QFileDialog*>(d)) {
                fd->selectFile("new");
                d->accept(); // through QDialog: QFileDialog hides it
            }
        });
        QVERIFY(dialogs.GetSaveFileName(request, result));
        QCOMPARE(result.Paths, std::vector<std::string>{dir.filePath("new.png").toStdString()});

        WhenDialogShows([](QDialog*) {}); // closed unanswered: cancelled
        QVERIFY(!dialogs.GetOpenFileNames(request, result));
    }

    // The colour chooser starts on the colour given and keeps the program's custom colours
    // in step with the ones the user edits.
    void ColourChooserKeepsCustomColours() {
        QtCommonDialogs dialogs;
        TCustomColors custom{};
        custom[3] = RGB(1, 2, 3);
        COLORREF colour = RGB(200, 100, 50);
        QColor start, customShown;
        WhenDialogShows([&](QDialog* d) {
            auto* cd = qobject_cast<QColorDialog*>(d);
            if (!cd) return;
            start = cd->currentColor();
            customShown = QColorDialog::customColor(3);
            cd->setCurrentColor(QColor(10, 20, 30));
            QColorDialog::setCustomColor(5, QColor(9, 9, 9));
            cd->accept();
        });
        QVERIFY(dialogs.ChooseColor(colour, custom));
        QCOMPARE(start, QColor(200, 100, 50));
        QCOMPARE(customShown, QColor(1, 2, 3));
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
        QImage shot;
        QPoint origin;
        WhenDialogShows([&](QDialog* d) {
            QWidget* pane = Control<QWidget>(d, TPaneDialog::kPane);
            if (!pane) return;
            origin = pane->mapTo(d, QPoint((40 - 4) / 2, (30 - 3) / 2));
            shot = d->grab().toImage();
            QTest::mouseClick(pane, Qt::RightButton, {}, QPoint(19, 14));
            QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(1, 2));
            QTest::mouseClick(Control<QPushButton>(d, IDOK), Qt::LeftButton);
        });
        QCOMPARE(dialog.Execute(), int(IDOK));
        L_FreeBitmap(&b);
        QVERIFY(!shot.isNull());
        const qreal dpr = shot.devicePixelRatio();
        const auto at = [&](int x, int y) { return QColor(shot.pixel(int((origin.x() + x) * dpr), int((origin.y() + y) * dpr))); };
        QCOMPARE(at(0, 0), QColor(255, 0, 0));
        QCOMPARE(at(3, 2), QColor(255, 255, 255));
        QCOMPARE(at(1, 1), QColor(0, 0, 0));
        QCOMPARE(dialog.Clicks.size(), size_t(2));
        QCOMPARE(dialog.Clicks[0], std::make_pair(2, QPoint(19, 14)));
        QCOMPARE(dialog.Clicks[1], std::make_pair(1, QPoint(1, 2)));
    }

private:
    int oldUnits_ = UNITS_PIXELS;
};

QUILLO_QT_TEST(DialogHostTest);
#include "DialogHostTest.moc"
