// The clipboard between processes on a real X server: what Copy offers is read by another
// program (xclip), and a picture that program offers is pasted. Runs only on the xcb
// platform with xclip installed (the clipboard_x11 test starts its own X server); skipped
// elsewhere.
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "Clipboard.h"
#include "CommandIds.h"
#include "HeadlessWindowHost.h"
#include "ImageDoc.h"
#include "ImageView.h"
#include "LayeredImage.h"
#include "QtClipboard.h"
#include "TestRegistry.h"

namespace {

// A 32-bit layer whose pixels all differ, alpha from the position too.
std::unique_ptr<TLayer> PatternLayer(int w, int h, int logicalBpp, const char* name) {
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        return nullptr;
    auto layer = std::make_unique<TLayer>();
    layer->Adopt(b);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = L_RowPtr(layer.get(), y) + x * 4;
            p[0] = uint8_t(x * 9), p[1] = uint8_t(y * 13), p[2] = uint8_t(x * y + 5);
            p[3] = logicalBpp == 32 ? uint8_t(100 + x) : 255;
        }
    layer->LogicalBpp = logicalBpp;
    layer->Name = name;
    return layer;
}

// xclip on the clipboard selection, the event loop running meanwhile: this process owns
// the selection and must answer the request.
QByteArray Xclip(const QStringList& args, int* exitCode = nullptr) {
    QProcess p;
    p.start(QStringLiteral("xclip"), QStringList{"-selection", "clipboard"} + args);
    if (!p.waitForStarted(5000)) return {};
    QElapsedTimer clock;
    clock.start();
    while (p.state() != QProcess::NotRunning && clock.elapsed() < 10000) QTest::qWait(20);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

struct TEditor {
    TEditor() : host({200, 150}) {
        doc.Image.Layers.Append(PatternLayer(20, 16, 24, "Background"));
        auto up = PatternLayer(6, 5, 32, "Glass");
        up->X = 4;
        up->Y = 3;
        doc.Image.Layers.Append(std::move(up));
        doc.Image.Layers.Seek(1);
        view = std::make_unique<TImageView>(doc, host);
    }
    TImageDoc doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
};

} // namespace

class ClipboardX11Test : public QObject {
    Q_OBJECT
private slots:
    // Skipped test by test: a skip in initTestCase would leave every test class run after
    // this one in the same program running nothing, and passing.
    void init() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display (the clipboard_x11 test provides one)");
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) QSKIP("needs xclip");
        previous_ = SetClipboard(&clipboard_);
        installed_ = true;
    }
    void cleanup() {
        if (installed_) SetClipboard(previous_);
        installed_ = false;
    }

    void AnotherProgramReadsBothFormatsOfACopiedLayer() {
        TEditor e;
        TLayer& glass = *e.doc.Image.Layers.At(1);
        QVERIFY(e.view->DoCommand(CM_EDITCOPY));

        const QByteArray targets = Xclip({"-t", "TARGETS", "-o"});
        QVERIFY2(targets.contains("image/png"), targets.constData());
        QVERIFY2(targets.contains(kNativeClipboardMime), targets.constData());

        // The picture: the layer's pixels with its alpha, as a PNG.
        QImage png;
        QVERIFY(png.loadFromData(Xclip({"-t", "image/png", "-o"}), "PNG"));
        QCOMPARE(png.size(), QSize(6, 5));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const uint8_t* p = L_RowPtr(&glass, y) + x * 4;
                QCOMPARE(png.pixel(x, y), qRgba(p[2], p[1], p[0], p[3]));
            }
        // The private format: exactly the layer block, which decodes to the layer again.
        const QByteArray native = Xclip({"-t", kNativeClipboardMime, "-o"});
        std::vector<uint8_t> block;
        QCOMPARE(TLayeredImage::EncodeLayerBlock(glass, block), L_INT(SUCCESS));
        QCOMPARE(native,
                 QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size())));
    }

    void APictureAnotherProgramOffersIsPastedAsANewLayer() {
        QTemporaryDir dir;
        QImage picture(7, 3, QImage::Format_RGB32);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) picture.setPixel(x, y, qRgb(x * 30, y * 70, 200));
        const QString file = dir.filePath("offered.png");
        QVERIFY(picture.save(file, "PNG"));
        // xclip keeps offering the picture in the background until the selection changes.
        int rc = -1;
        Xclip({"-t", "image/png", "-i", file}, &rc);
        QCOMPARE(rc, 0);

        TEditor e;
        QTRY_VERIFY_WITH_TIMEOUT(e.view->IsCommandEnabled(CM_EDITPASTE), 5000);
        QVERIFY(e.view->DoCommand(CM_EDITPASTE));
        QCOMPARE(e.doc.Image.Count(), 3);
        // Where and under which name it lands is the paste command's business; here, that
        // the picture came through.
        const TLayer& pasted = *e.doc.Image.Layers.At(2);
        QCOMPARE(pasted.Width, 7);
        QCOMPARE(pasted.Height, 3);
        QCOMPARE(L_GetPixelColor(&pasted, 2, 5), COLORREF(RGB(150, 140, 200)));
        // Taking the clipboard back ends the background xclip.
        clipboard_.Set({{"text/plain", {'x'}}});
    }

private:
    QtClipboard clipboard_;
    IClipboard* previous_ = nullptr;
    bool installed_ = false;
};

QUILLO_QT_TEST(ClipboardX11Test);
#include "ClipboardX11Test.moc"
