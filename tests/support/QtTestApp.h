// The one QApplication of a GUI test program, made on first use because the
// programs link gtest_main. Included by tests/support and tests/decor.
#pragma once

#include <QApplication>
#include <QByteArray>

namespace testing_support {

inline QApplication& QtTestApp()
{
    static int argc = 1;
    static char name[] = "velmar-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // ctest sets this too; here it makes a run by hand headless as well.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static QApplication instance(argc, argv);
        return &instance;
    }();
    return *app;
}

} // namespace testing_support
