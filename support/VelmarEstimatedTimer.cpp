#include "support/VelmarEstimatedTimer.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <climits>
#include <stdexcept>

namespace velmar {

namespace {

constexpr double MsecsPerDay = 86400000.0;

TDateTime Estimate(int Current, int Total, TDateTime Elapsed)
{
    if (Current == 0)
        return 0;
    const long double e = static_cast<long double>(Total) * Elapsed / static_cast<long double>(Current);
    return static_cast<TDateTime>(e);
}

} // namespace

TVelmarEstimatedTimer::TVelmarEstimatedTimer(QObject* AOwner)
    : QObject(AOwner), FTimer(new QTimer(this)), FClock(&TVelmarEstimatedTimer::SteadyNow)
{
    connect(FTimer, &QTimer::timeout, this, &TVelmarEstimatedTimer::Tick);
}

TVelmarEstimatedTimer::~TVelmarEstimatedTimer()
{
    {
        std::lock_guard<std::mutex> hold(FLock);
        FEnabled = false;
    }
    FTimer->stop();
}

TDateTime TVelmarEstimatedTimer::SteadyNow()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<double>(ms) / MsecsPerDay;
}

void TVelmarEstimatedTimer::SetClock(TVelmarClock AClock)
{
    FClock = AClock ? std::move(AClock) : TVelmarClock(&TVelmarEstimatedTimer::SteadyNow);
}

TDateTime TVelmarEstimatedTimer::Now() const
{
    return FClock();
}

uint32_t TVelmarEstimatedTimer::Interval() const
{
    std::lock_guard<std::mutex> hold(FLock);
    return FInterval;
}

bool TVelmarEstimatedTimer::Enabled() const
{
    std::lock_guard<std::mutex> hold(FLock);
    return FEnabled;
}

void TVelmarEstimatedTimer::SetInterval(uint32_t AInterval)
{
    {
        std::lock_guard<std::mutex> hold(FLock);
        if (AInterval == FInterval)
            return;
        FInterval = AInterval;
    }
    RequestUpdateTimer();
}

void TVelmarEstimatedTimer::SetEnabled(bool AEnabled)
{
    // Read before locking: the clock is the caller's code.
    const TDateTime now = AEnabled ? Now() : 0;
    {
        std::lock_guard<std::mutex> hold(FLock);
        if (AEnabled == FEnabled)
            return;
        FEnabled = AEnabled;
        FStartTime = now;
    }
    RequestUpdateTimer();
}

void TVelmarEstimatedTimer::Resume(TDateTime Elapsed)
{
    const TDateTime start = Now() - Elapsed;
    {
        std::lock_guard<std::mutex> hold(FLock);
        FEnabled = true;
        FStartTime = start;
    }
    RequestUpdateTimer();
}

// QTimer may only be started and stopped in its own thread.
void TVelmarEstimatedTimer::RequestUpdateTimer()
{
    if (QThread::currentThread() == thread())
        UpdateTimer();
    else
        QMetaObject::invokeMethod(this, [this] { UpdateTimer(); }, Qt::QueuedConnection);
}

// Arms the timer from the values as they stand now, so queued requests
// that arrive in a burst all end in the latest state.
void TVelmarEstimatedTimer::UpdateTimer()
{
    uint32_t interval;
    bool enabled;
    {
        std::lock_guard<std::mutex> hold(FLock);
        interval = FInterval;
        enabled = FEnabled;
    }
    FTimer->stop();
    if (interval != 0 && enabled)
        FTimer->start(static_cast<int>(interval > INT_MAX ? INT_MAX : interval));
}

void TVelmarEstimatedTimer::Tick()
{
    // An exception must not leave a Qt slot.
    try {
        DoTick();
    } catch (const std::exception& e) {
        ReportError(e);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error in an estimated-time handler"));
    }
}

void TVelmarEstimatedTimer::DoTick()
{
    TDateTime start;
    {
        std::lock_guard<std::mutex> hold(FLock);
        if (!FEnabled)
            return; // a timeout already queued when another thread disabled us
        start = FStartTime;
    }
    const TDateTime elapsed = Now() - start;
    if (FOnDisplayElapsedTime)
        FOnDisplayElapsedTime(this, elapsed);
    int current = 0;
    if (FOnGetCurrentCount)
        FOnGetCurrentCount(this, current);
    int total = 0;
    if (FOnGetTotalCount)
        FOnGetTotalCount(this, total);
    const TDateTime estimate = Estimate(current, total, elapsed);
    if (FOnDisplayEstTime)
        FOnDisplayEstTime(this, estimate);
}

void TVelmarEstimatedTimer::ReportError(const std::exception& E)
{
    if (FOnTickError) {
        try {
            FOnTickError(this, E);
        } catch (...) {
            // The reporter failing too leaves nothing better to do.
        }
        return;
    }
    qWarning("%s: %s", qPrintable(objectName()), E.what());
}

} // namespace velmar
