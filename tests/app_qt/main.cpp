#include <QApplication>
#include <QTest>

#include "TestRegistry.h"

std::vector<TQtTestFactory>& QtTestClasses() {
    static std::vector<TQtTestFactory> classes;
    return classes;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failed = 0;
    // QUILLO_QT_TESTS (class names, comma-separated) runs only those classes.
    const QStringList only = qEnvironmentVariable("QUILLO_QT_TESTS").split(',', Qt::SkipEmptyParts);
    for (const TQtTestFactory& make : QtTestClasses()) {
        std::unique_ptr<QObject> test = make();
        if (!only.isEmpty() && !only.contains(QLatin1String(test->metaObject()->className())))
            continue;
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
