// The about-box companion library. The program loads it only when the user asks for the
// about box, so it is found at run time and may be missing; its one entry point is
//   extern "C" void ShowAboutBox_C(void* parentWidget, const char* defaultsFile)
// It shows the program's name, its version and the intro picture named by the defaults file
// (key "IntroImage" of section "Intro"), or its own copy of the built-in picture.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QTextStream>
#include <QVBoxLayout>

#ifndef QUILLO_VERSION
#define QUILLO_VERSION "unknown"
#endif

namespace {

// The defaults file: a path as given, or a bare name beside the program, then in the
// desktop's data folders under quillo/.
QString FindDefaultsFile(const QString& name) {
    if (name.isEmpty()) return QString();
    if (QFileInfo(name).isAbsolute()) return QFileInfo(name).isFile() ? name : QString();
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    if (QFileInfo(beside).isFile()) return beside;
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                  QStringLiteral("quillo/") + name);
}

// "IntroImage" from section "Intro"; names compare without case, as the program's own
// reader does.
QString IntroImage(const QString& defaultsFile) {
    QFile file(defaultsFile);
    if (defaultsFile.isEmpty() || file.size() > (1 << 20) ||
        !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    bool inIntro = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inIntro = line.compare(QStringLiteral("[Intro]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inIntro || eq < 0) continue;
        if (line.left(eq).trimmed().compare(QStringLiteral("IntroImage"), Qt::CaseInsensitive) != 0)
            continue;
        const QString value = line.mid(eq + 1).trimmed();
        if (value.isEmpty()) return QString();
        return QFileInfo(value).isAbsolute()
                   ? value
                   : QFileInfo(defaultsFile).absoluteDir().filePath(value);
    }
    return QString();
}

// Used when even the library's own copy of the picture is missing.
QImage DrawnPicture() {
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor(28, 52, 84));
    QPainter p(&image);
    p.setPen(QColor(250, 245, 230));
    QFont font = p.font();
    font.setPointSize(26);
    font.setBold(true);
    p.setFont(font);
    p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Quillo"));
    return image;
}

QImage Picture(const QString& defaultsFile) {
    const QString intro = IntroImage(defaultsFile);
    QImage image;
    if (!intro.isEmpty()) image.load(intro);
    if (image.isNull()) image.load(QStringLiteral(":/kestrel/splash.png"));
    if (image.isNull()) image = DrawnPicture();
    if (image.width() > 400 || image.height() > 300)
        image = image.scaled(400, 300, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void ShowAboutBox_C(void* parentWidget,
                                                                      const char* defaultsFile) {
    // Without a running Qt application there is nothing to show the dialog with.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    QWidget* parent = static_cast<QWidget*>(parentWidget);

    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("About Quillo Professional"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* picture = new QLabel(&dialog);
    picture->setPixmap(
        QPixmap::fromImage(Picture(FindDefaultsFile(QString::fromLocal8Bit(defaultsFile)))));
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    auto* name = new QLabel(QStringLiteral("<b><big>Quillo Professional</big></b>"), &dialog);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* version =
        new QLabel(QStringLiteral("Version %1").arg(QStringLiteral(QUILLO_VERSION)), &dialog);
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}
