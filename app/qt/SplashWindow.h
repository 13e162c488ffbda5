// The start-up picture: a frameless 400 x 300 window in the middle of the screen that closes
// itself after a while or when clicked, and deletes itself when closed.
#pragma once

#include <QImage>
#include <QWidget>

class TSplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int Width = 400;
    static constexpr int Height = 300;
    static constexpr int DisplayMs = 5000;

    // imagePath names the intro picture (any format the program reads); when it is empty or
    // does not load, the built-in picture is shown instead.
    explicit TSplashWindow(const QString& imagePath, int displayMs = DisplayMs,
                           QWidget* parent = nullptr);

    // Shows the window centred on the primary screen and paints it at once, before the rest
    // of start-up runs; the display time starts now.
    void ShowNow();

    // What is shown (the intro picture or the built-in one) and whether it is the built-in one.
    const QImage& Picture() const { return picture_; }
    bool IsBuiltInPicture() const { return builtIn_; }

    // The picture built into the program.
    static QImage BuiltInPicture();
    // Loads a picture through Qt's readers, then the program's own toolkit (for the formats
    // only it reads). A null image when neither can.
    static QImage LoadPicture(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    bool builtIn_ = false;
    int displayMs_;
};
