#include "support/VelmarEstimatedTimer.h"

#include "QtTestApp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

constexpr double Second = 1.0 / 86400.0;

// Runs the event loop until Done or Ms milliseconds have passed.
bool SpinUntil(const std::function<bool()>& Done, int Ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!Done() && clock.elapsed() < Ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return Done();
}

void Spin(int Ms)
{
    SpinUntil([] { return false; }, Ms);
}

// Qt's warnings, such as a timer started from a foreign thread.
struct WarningCatcher {
    static inline std::vector<std::string> Seen;
    QtMessageHandler Previous;
    WarningCatcher()
    {
        Seen.clear();
        Previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& Msg) {
            Seen.push_back(Msg.toStdString());
        });
    }
    ~WarningCatcher() { qInstallMessageHandler(Previous); }
};

// A timer on a clock the test moves by hand, recording every event.
struct Rig {
    double Now = 100.0; // days; any origin will do
    TVelmarEstimatedTimer Timer;
    std::vector<std::string> Calls;
    std::optional<double> Elapsed, Estimate;

    Rig()
    {
        QtTestApp();
        Timer.SetClock([this] { return Now; });
        Timer.SetOnDisplayElapsedTime([this](QObject* Sender, TDateTime T) {
            EXPECT_EQ(Sender, &Timer);
            Calls.push_back("elapsed");
            Elapsed = T;
        });
        Timer.SetOnDisplayEstTime([this](QObject* Sender, TDateTime T) {
            EXPECT_EQ(Sender, &Timer);
            Calls.push_back("estimate");
            Estimate = T;
        });
    }
    void Counts(int Current, int Total)
    {
        Timer.SetOnGetCurrentCount([this, Current](QObject*, int& C) { Calls.push_back("current"); C = Current; });
        Timer.SetOnGetTotalCount([this, Total](QObject*, int& C) { Calls.push_back("total"); C = Total; });
    }
    QTimer* Q() { return Timer.findChild<QTimer*>(); }
};

TEST(VelmarEstimatedTimer, StartsDisabledAtOneSecond)
{
    Rig r;
    EXPECT_EQ(r.Timer.Interval(), 1000u);
    EXPECT_FALSE(r.Timer.Enabled());
    ASSERT_NE(r.Q(), nullptr);
    EXPECT_FALSE(r.Q()->isActive());
    r.Timer.Tick(); // disabled: nothing to report
    EXPECT_TRUE(r.Calls.empty());
}

TEST(VelmarEstimatedTimer, EstimateIsProjectedTotalDuration)
{
    struct Case {
        const char* Name;
        bool Handlers;
        int Current, Total;
        double ElapsedSec, EstimateSec;
    };
    const Case cases[] = {
        {"a quarter done after a minute", true, 50, 200, 60, 240},
        {"nothing done yet", true, 0, 100, 60, 0},
        {"all done", true, 100, 100, 90, 90},
        {"total below current", true, 150, 100, 60, 40},
        {"no count handlers", false, 0, 0, 30, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig r;
        if (c.Handlers)
            r.Counts(c.Current, c.Total);
        r.Timer.SetEnabled(true);
        r.Now += c.ElapsedSec * Second;
        r.Timer.Tick();
        ASSERT_TRUE(r.Elapsed && r.Estimate);
        EXPECT_NEAR(*r.Elapsed / Second, c.ElapsedSec, 1e-6);
        EXPECT_NEAR(*r.Estimate / Second, c.EstimateSec, 1e-6);
        const std::vector<std::string> order = c.Handlers
            ? std::vector<std::string>{"elapsed", "current", "total", "estimate"}
            : std::vector<std::string>{"elapsed", "estimate"};
        EXPECT_EQ(r.Calls, order);
    }
}

TEST(VelmarEstimatedTimer, EnablingTwiceKeepsTheStartTimeAndResumeMovesIt)
{
    Rig r;
    r.Timer.SetEnabled(true);
    r.Now += 30 * Second;
    r.Timer.SetEnabled(true);
    r.Now += 30 * Second;
    r.Timer.Tick();
    EXPECT_NEAR(*r.Elapsed / Second, 60, 1e-6);

    // Disabling and enabling again starts a new count.
    r.Timer.SetEnabled(false);
    r.Timer.SetEnabled(true);
    r.Now += 10 * Second;
    r.Timer.Tick();
    EXPECT_NEAR(*r.Elapsed / Second, 10, 1e-6);

    // Resume counts from a start before now, enabled or not.
    for (bool enabled : {true, false}) {
        r.Timer.SetEnabled(enabled);
        r.Timer.Resume(45 * Second);
        EXPECT_TRUE(r.Timer.Enabled());
        r.Now += 5 * Second;
        r.Timer.Tick();
        EXPECT_NEAR(*r.Elapsed / Second, 50, 1e-6) << enabled;
    }
}

TEST(VelmarEstimatedTimer, IntervalZeroGivesNoTicksAndKeepsTheStartTime)
{
    Rig r;
    r.Timer.SetInterval(0);
    r.Timer.SetEnabled(true);
    EXPECT_FALSE(r.Q()->isActive());
    Spin(100);
    EXPECT_TRUE(r.Calls.empty());

    r.Now += 10 * Second;
    r.Timer.SetInterval(20);
    EXPECT_TRUE(r.Q()->isActive());
    ASSERT_TRUE(SpinUntil([&] { return r.Elapsed.has_value(); }, 2000));
    EXPECT_NEAR(*r.Elapsed / Second, 10, 1e-6) << "elapsed counts from the enabling";
}

TEST(VelmarEstimatedTimer, ChangingTheIntervalRestartsThePeriod)
{
    Rig r;
    r.Timer.SetInterval(300);
    r.Timer.SetEnabled(true);
    QThread::msleep(200);
    r.Timer.SetInterval(400);
    EXPECT_EQ(r.Q()->interval(), 400);
    EXPECT_GT(r.Q()->remainingTime(), 300);
}

TEST(VelmarEstimatedTimer, TicksOnTheRealClockUntilDisabled)
{
    QtTestApp();
    TVelmarEstimatedTimer timer;
    std::vector<double> elapsed;
    timer.SetOnDisplayElapsedTime([&](QObject*, TDateTime T) { elapsed.push_back(T); });
    timer.SetInterval(20);
    timer.SetEnabled(true);
    ASSERT_TRUE(SpinUntil([&] { return elapsed.size() >= 3; }, 3000));
    EXPECT_GT(elapsed[0], 0.0);
    EXPECT_LT(elapsed[0], 2 * Second);
    EXPECT_GT(elapsed[2], elapsed[0]);

    timer.SetEnabled(false);
    const size_t seen = elapsed.size();
    Spin(100);
    EXPECT_EQ(elapsed.size(), seen);
}

TEST(VelmarEstimatedTimer, HandlerErrorEndsOnlyThatTick)
{
    Rig r;
    r.Counts(50, 200);
    bool fail = true;
    r.Timer.SetOnGetCurrentCount([&](QObject*, int& C) {
        r.Calls.push_back("current");
        if (fail)
            throw std::runtime_error("count unavailable");
        C = 50;
    });
    std::vector<std::string> reported;
    r.Timer.SetOnTickError([&](QObject* Sender, const std::exception& E) {
        EXPECT_EQ(Sender, &r.Timer);
        reported.push_back(E.what());
    });
    r.Timer.SetEnabled(true);
    r.Now += 60 * Second;

    r.Timer.Tick();
    EXPECT_EQ(r.Calls, (std::vector<std::string>{"elapsed", "current"}));
    EXPECT_EQ(reported, std::vector<std::string>{"count unavailable"});
    EXPECT_FALSE(r.Estimate.has_value());

    fail = false;
    r.Calls.clear();
    r.Timer.Tick();
    EXPECT_EQ(r.Calls.size(), 4u);
    EXPECT_NEAR(*r.Estimate / Second, 240, 1e-6);
    EXPECT_TRUE(r.Timer.Enabled());
    EXPECT_TRUE(r.Q()->isActive());
}

TEST(VelmarEstimatedTimer, UnreportedErrorBecomesAWarning)
{
    Rig r;
    r.Timer.setObjectName("Stima");
    r.Timer.SetOnGetTotalCount([](QObject*, int&) { throw 42; });
    r.Timer.SetEnabled(true);
    WarningCatcher warnings;
    r.Timer.Tick();
    ASSERT_EQ(WarningCatcher::Seen.size(), 1u);
    EXPECT_NE(WarningCatcher::Seen[0].find("Stima"), std::string::npos);
}

TEST(VelmarEstimatedTimer, WritesFromAnotherThreadArmTheTimerInItsOwn)
{
    Rig r;
    WarningCatcher warnings;
    r.Now = 200.0;
    std::thread([&] { r.Timer.SetEnabled(true); }).join();
    EXPECT_TRUE(r.Timer.Enabled()) << "the value is stored at once";
    ASSERT_TRUE(SpinUntil([&] { return r.Q()->isActive(); }, 2000));

    // A burst as at the end of one file and the start of the next.
    std::thread([&] {
        for (int i = 0; i < 50; ++i) {
            r.Timer.SetEnabled(false);
            r.Timer.SetEnabled(true);
        }
        r.Timer.SetEnabled(false);
    }).join();
    Spin(50);
    EXPECT_FALSE(r.Q()->isActive());
    r.Timer.Tick();
    EXPECT_TRUE(r.Calls.empty()) << "no tick while disabled";

    std::thread([&] {
        r.Timer.SetEnabled(true);
        r.Timer.SetInterval(20);
    }).join();
    r.Now += 5 * Second;
    ASSERT_TRUE(SpinUntil([&] { return r.Elapsed.has_value(); }, 2000));
    EXPECT_NEAR(*r.Elapsed / Second, 5, 1e-6);
    EXPECT_EQ(r.Q()->interval(), 20);
    EXPECT_TRUE(WarningCatcher::Seen.empty()) << WarningCatcher::Seen.front();
}

} // namespace
