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
    for (const TQtTestFactory& make : QtTestClasses()) {
        std::unique_ptr<QObject> test = make();
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
