#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QuilloApp.h"

namespace {
bool HasEnv(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}
} // namespace

int main(int argc, char** argv) {
    // Qt would abort with a long plugin message; one line tells the user what to do.
    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "quillo: no display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                     "run it under X, or headless with: xvfb-run %s [files...]\n",
                     argv[0]);
        return 1;
    }
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Quillo");
    // The program's own arguments as given; Qt has taken out its own options.
    std::vector<std::string> args;
    for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toStdString());

    TQuilloApp app(std::move(args));
    app.Start();
    return QApplication::exec();
}
