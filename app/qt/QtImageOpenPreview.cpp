#include "QtImageOpenPreview.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include <memory>

#include "ImageOpenPreview.h"
#include "QtConvert.h"

namespace {

constexpr int kPictureWidth = 160, kPictureHeight = 120;

QImage ToImage(const BITMAPHANDLE* b) {
    if (!b || b->Width <= 0 || b->Height <= 0) return {};
    QImage img(b->Width, b->Height, QImage::Format_RGB32);
    for (int y = 0; y < b->Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < b->Width; ++x) {
            const COLORREF c = L_GetPixelColor(b, y, x);
            line[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
    }
    return img;
}

// The picture centred in its area over the window colour.
class TPicture : public QWidget {
public:
    using QWidget::QWidget;
    void SetImage(QImage image) {
        image_ = std::move(image);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        if (!image_.isNull())
            p.drawImage(QPoint((width() - image_.width()) / 2, (height() - image_.height()) / 2),
                        image_);
    }

private:
    QImage image_;
};

class TPreviewPanel : public QWidget {
public:
    explicit TPreviewPanel(QFileDialog& dialog)
        : QWidget(&dialog), preview_(TSize{kPictureWidth, kPictureHeight}) {
        setObjectName(QStringLiteral("imagePreview"));
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        check_ = new QCheckBox(QStringLiteral("&Preview"), this);
        check_->setObjectName(QStringLiteral("control107"));
        picture_ = new TPicture(this);
        picture_->setObjectName(QStringLiteral("control101"));
        picture_->setFixedSize(kPictureWidth + 4, kPictureHeight + 4);
        auto* group = new QGroupBox(QStringLiteral("Image attributes:"), this);
        auto* grid = new QGridLayout(group);
        const char* names[] = {"Width:", "Height:", "Bits per pixel:", "File size:"};
        for (int i = 0; i < 4; ++i) {
            grid->addWidget(new QLabel(QString::fromLatin1(names[i]), group), i, 0);
            values_[i] = new QLabel(group);
            values_[i]->setObjectName(QStringLiteral("control%1").arg(103 + i));
            grid->addWidget(values_[i], i, 1);
        }
        layout->addWidget(check_);
        layout->addWidget(picture_);
        layout->addWidget(group, 1);

        timer_.setSingleShot(true);
        timer_.setInterval(TImageOpenPreview::kDelayMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            preview_.TimerFired(current_);
            Show();
        });
        connect(&dialog, &QFileDialog::currentChanged, this, [this](const QString& path) {
            current_ = QFileInfo(path).isFile() ? path.toStdString() : std::string();
            if (preview_.Notified()) timer_.start();
        });
        connect(&dialog, &QFileDialog::directoryEntered, this, [this](const QString&) {
            current_.clear();
            if (preview_.Notified()) timer_.start();
        });
        check_->setChecked(TImageOpenPreview::Enabled());
        connect(check_, &QCheckBox::toggled, this, [this](bool on) {
            if (!on) timer_.stop();
            preview_.SetEnabled(on, current_);
            Show();
        });
        Show();
    }

private:
    void Show() {
        picture_->SetImage(ToImage(preview_.Picture()));
        for (int i = 0; i < 4; ++i)
            values_[i]->setText(
                ToQString(preview_.Attribute(static_cast<TImageOpenPreview::TAttribute>(i))));
    }

    TImageOpenPreview preview_;
    std::string current_;
    QTimer timer_;
    QCheckBox* check_ = nullptr;
    TPicture* picture_ = nullptr;
    QLabel* values_[4] = {};
};

} // namespace

void AttachImagePreview(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    auto* panel = new TPreviewPanel(dialog);
    if (grid)
        grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
    else if (dialog.layout())
        dialog.layout()->addWidget(panel);
}
