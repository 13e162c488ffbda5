#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "MainWindow.h"

namespace {
bool HasEnv(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}
} // namespace

int main(int argc, char** argv) {
    // Qt would abort with a long plugin message; one line tells the user what to do.
    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "quillo: no display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                             "run it under X, or headless with: xvfb-run %s [files...]\n",
                     argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillo");
    QtMessageBoxes boxes;
    SetMessageBoxHost(&boxes);

    MainWindow window;
    window.show();
    for (const QString& path : QApplication::arguments().mid(1)) window.OpenFile(path);
    const int rc = QApplication::exec();
    SetMessageBoxHost(nullptr);
    return rc;
}
