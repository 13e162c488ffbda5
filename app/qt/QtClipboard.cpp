#include "QtClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

bool QtClipboard::Set(const TFormats& formats) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    auto* data = new QMimeData;
    for (const auto& [mime, bytes] : formats) {
        const QByteArray array(reinterpret_cast<const char*>(bytes.data()),
                               qsizetype(bytes.size()));
        data->setData(QString::fromStdString(mime), array);
        if (mime == kPictureClipboardMime) {
            QImage image;
            if (image.loadFromData(array, "PNG")) data->setImageData(image);
        }
    }
    clipboard->setMimeData(data);
    return true;
}

bool QtClipboard::Has(const std::string& mime) const {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    if (!data) return false;
    if (mime == kPictureClipboardMime) return data->hasFormat("image/png") || data->hasImage();
    return data->hasFormat(QString::fromStdString(mime));
}

std::vector<uint8_t> QtClipboard::Get(const std::string& mime) const {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    if (!data) return {};
    QByteArray bytes = data->data(QString::fromStdString(mime));
    if (bytes.isEmpty() && mime == kPictureClipboardMime && data->hasImage()) {
        // Whatever type the other program offered, Qt has read it; it reaches the editor as
        // PNG, which keeps every pixel and the alpha.
        const QImage image = qvariant_cast<QImage>(data->imageData());
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (image.isNull() || !image.save(&buffer, "PNG")) return {};
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
