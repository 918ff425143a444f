// Elapsed and estimated total time of a running job, reported at a fixed
// interval to whoever owns the job.
#pragma once

#include <QObject>

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>

class QTimer;

namespace velmar {

// Days since 30 December 1899; as a duration, a fraction of a day
// (1.0 is 24 hours, 1/86400 one second), so it formats as "hh:mm:ss".
using TDateTime = double;

using TVelmarGetCountEvent = std::function<void(QObject* Sender, int& Count)>;
using TVelmarDisplayTimeEvent = std::function<void(QObject* Sender, TDateTime TheTime)>;
using TVelmarTickErrorEvent = std::function<void(QObject* Sender, const std::exception& E)>;
// Returns "now"; only differences of two readings are used.
using TVelmarClock = std::function<TDateTime()>;

// While Enabled and Interval is not 0, a QTimer child ticks every Interval
// milliseconds; the first tick comes one interval after enabling. A tick,
// in this order:
//   1. Elapsed := now - the moment Enabled last became true;
//   2. OnDisplayElapsedTime(Elapsed);
//   3. Current := OnGetCurrentCount, Total := OnGetTotalCount (0 when
//      unassigned);
//   4. Estimate := Total * Elapsed / Current (long double, rounded once),
//      0 when Current is 0: the projected total duration, not the time left;
//   5. OnDisplayEstTime(Estimate).
// Each tick computes from scratch: no smoothing or clamping.
//
// Enabled: writing the value it already has does nothing, so enabling twice
// keeps the first start time. Interval: a change restarts the period from
// that moment but keeps the start time; 0 means no ticks. Intervals above
// INT_MAX ms run at INT_MAX ms (QTimer's limit).
//
// Clock: by default a monotonic clock, so changing the system time or
// daylight saving does not make the elapsed time jump or go negative.
// SetClock replaces it (tests, or a wall clock if one is wanted).
//
// Lifecycle: owned by its Qt parent and destroyed in its own thread;
// destroying it stops the timer and drops re-arm requests still queued.
// Thread: ticks and all four events run in the component's thread (the GUI
// thread, so handlers may touch controls). Enabled and Interval may be
// written from any thread: the values and the start time are stored at
// once under a lock, and the QTimer is re-armed in the component's thread
// (directly there, by a queued call from elsewhere). A tick that arrives
// while disabled does nothing. Events are assigned in the component's
// thread.
// Failure: an exception escaping a handler ends that tick (its remaining
// steps are skipped) and goes to OnTickError with this component as
// sender, or to qWarning when that is unassigned; the timer keeps running.
class TVelmarEstimatedTimer : public QObject {
    Q_OBJECT
public:
    // Interval 1000, disabled.
    explicit TVelmarEstimatedTimer(QObject* AOwner = nullptr);
    ~TVelmarEstimatedTimer() override;

    uint32_t Interval() const;
    void SetInterval(uint32_t AInterval);
    bool Enabled() const;
    void SetEnabled(bool AEnabled);
    // Enables the timer for a job that has already run for Elapsed: the
    // start time becomes now - Elapsed, also when it was enabled already.
    void Resume(TDateTime Elapsed);

    const TVelmarGetCountEvent& OnGetCurrentCount() const { return FOnGetCurrentCount; }
    void SetOnGetCurrentCount(TVelmarGetCountEvent AEvent) { FOnGetCurrentCount = std::move(AEvent); }
    const TVelmarGetCountEvent& OnGetTotalCount() const { return FOnGetTotalCount; }
    void SetOnGetTotalCount(TVelmarGetCountEvent AEvent) { FOnGetTotalCount = std::move(AEvent); }
    const TVelmarDisplayTimeEvent& OnDisplayEstTime() const { return FOnDisplayEstTime; }
    void SetOnDisplayEstTime(TVelmarDisplayTimeEvent AEvent) { FOnDisplayEstTime = std::move(AEvent); }
    const TVelmarDisplayTimeEvent& OnDisplayElapsedTime() const { return FOnDisplayElapsedTime; }
    void SetOnDisplayElapsedTime(TVelmarDisplayTimeEvent AEvent) { FOnDisplayElapsedTime = std::move(AEvent); }
    const TVelmarTickErrorEvent& OnTickError() const { return FOnTickError; }
    void SetOnTickError(TVelmarTickErrorEvent AEvent) { FOnTickError = std::move(AEvent); }

    // Set in the component's thread before another thread writes Enabled;
    // an empty function puts back SteadyNow.
    void SetClock(TVelmarClock AClock);
    // Monotonic time in days, millisecond resolution.
    static TDateTime SteadyNow();

    // Runs one tick now, exactly as the timer does (errors included).
    // Component's thread only.
    void Tick();

private:
    void UpdateTimer();
    void RequestUpdateTimer();
    void DoTick();
    void ReportError(const std::exception& E);
    TDateTime Now() const;

    QTimer* FTimer; // child, armed only in this object's thread
    mutable std::mutex FLock; // guards the three fields below
    uint32_t FInterval = 1000;
    bool FEnabled = false;
    TDateTime FStartTime = 0; // 0 while disabled
    TVelmarClock FClock;
    TVelmarGetCountEvent FOnGetCurrentCount;
    TVelmarGetCountEvent FOnGetTotalCount;
    TVelmarDisplayTimeEvent FOnDisplayEstTime;
    TVelmarDisplayTimeEvent FOnDisplayElapsedTime;
    TVelmarTickErrorEvent FOnTickError;
};

} // namespace velmar
