// The one QApplication of a GUI test program, made on first use because the
// programs link gtest_main, and destroyed when the tests are over (while Qt
// can still tear it down: at process exit it is too late). Included by
// tests/support and tests/decor.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>

#include <memory>

namespace testing_support {

class QtAppEnvironment : public testing::Environment {
public:
    static std::unique_ptr<QApplication>& App()
    {
        static std::unique_ptr<QApplication> app;
        return app;
    }
    void TearDown() override { App().reset(); }
};

// gtest takes ownership of the environment.
inline testing::Environment* const QtAppEnvironmentRegistered =
    testing::AddGlobalTestEnvironment(new QtAppEnvironment);

inline QApplication& QtTestApp()
{
    auto& app = QtAppEnvironment::App();
    if (!app) {
        // ctest sets this too; here it makes a run by hand headless as well.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "velmar-tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    return *app;
}

} // namespace testing_support
