// Every Qt test class registers itself here; one main runs them all under one
// QApplication. A file adds its class with `QUILLO_QT_TEST(ClassName)` after the class.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

using TQtTestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<TQtTestFactory>& QtTestClasses();

struct TQtTestRegistration {
    explicit TQtTestRegistration(TQtTestFactory f) { QtTestClasses().push_back(std::move(f)); }
};

#define QUILLO_QT_TEST(Class)                             \
    static const TQtTestRegistration Class##Registration( \
        [] { return std::unique_ptr<QObject>(new Class); })
