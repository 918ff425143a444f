// The audio chain's base classes: inputs that hand out PCM when asked,
// outputs that pull from an input on a worker thread of their own.
#pragma once

#include "platform/Classes.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmar {

// Raised by the audio components; carries only its message.
class VelmarException : public Exception {
public:
    using Exception::Exception;
};

// The form of the samples an input hands out: signed 16-bit little-endian
// integers, or 32-bit floats in the machine's order with full scale at 1.0
// (values beyond it are kept, not clipped).
enum class TSampleFormat { Int16, Float32 };

// A source of PCM audio: interleaved samples in frames of Channels samples,
// in the form GetSampleFormat gives (BitsPerSample 16 or 32 accordingly).
// Callers follow BeginRead, ReadData..., EndRead on one thread; the format
// getters may be called at any time.
//
// Lifetime: an input must outlive every run that reads it. Removed from its
// owner during such a run, it first stops the run and waits for its end
// (see TVelmarOutput::Notification); destroyed otherwise while a run reads
// it, the program ends there with that rule as the reason. A concrete input
// calls CheckNotRead first in its destructor, so the run never reads its
// members once they start to go.
class TVelmarInput : public TComponent {
public:
    using TComponent::TComponent;
    ~TVelmarInput() override;

    virtual int GetBitsPerSample() = 0;
    virtual int GetChannels() = 0;
    virtual int GetSampleRate() = 0;
    virtual TSampleFormat GetSampleFormat() { return TSampleFormat::Int16; }
    // Whole seconds; 0 when not known.
    virtual int GetTotalTime() { return 0; }
    // Copies at most BufferSize bytes, never more than what is left of the
    // current internal block; 0 means the end of the data.
    virtual int ReadData(void* Buffer, int BufferSize) = 0;
    // EndRead with its errors swallowed; the input is closed afterwards.
    virtual void CancelRead();
    virtual void BeginRead() = 0;
    virtual void EndRead() = 0;
    // The input this one pulls from, if any.
    virtual TVelmarInput* Upstream() const { return nullptr; }

    int BitsPerSample() { return GetBitsPerSample(); }
    int Channels() { return GetChannels(); }
    int SampleRate() { return GetSampleRate(); }
    int TotalTime() { return GetTotalTime(); }
    // Bytes one read cycle hands out, -1 when not known; bytes handed out
    // so far. Readable from any thread.
    int64_t Size() const { return FSize.load(std::memory_order_relaxed); }
    int64_t Position() const { return FPosition.load(std::memory_order_relaxed); }
    // False while Size is only an estimate (a coded length that only
    // decoding tells), which nothing may hold the input to; once the input
    // has ended, its Size is what it handed out and exact.
    bool SizeExact() const { return FSizeExact.load(std::memory_order_relaxed); }
    bool Busy() const { return FBusy.load(); }

protected:
    // Ends the program when a run reads this input (see Lifetime).
    void CheckNotRead() const;

    std::atomic<int64_t> FPosition{0};
    std::atomic<int64_t> FSize{-1};
    std::atomic<bool> FSizeExact{true};
    std::atomic<bool> FBusy{false};
    int BufStart = 1; // 1-based index of the next byte of the block to hand out
    int BufEnd = 0;   // valid bytes in the block; BufStart > BufEnd: used up

private:
    friend class TVelmarOutput;
    std::atomic<int> FReaders{0}; // runs reading this input now
};

// An input that reads a stream, its own or one handed in.
class TVelmarStreamedInput : public TVelmarInput {
public:
    using TVelmarInput::TVelmarInput;
    // Neither opens nor frees anything; nullptr hands the stream back.
    void SetStream(TStream* AStream);
    TStream* Stream() const { return FStream; }
    bool StreamAssigned() const { return FStreamAssigned; }

protected:
    // The stream or file name was set: what was learnt of the old one is stale.
    virtual void SourceChanged() {}

    TStream* FStream = nullptr;
    bool FStreamAssigned = false;
};

// An input reading a named file (or a stream handed in) with a header.
// OpenSource and CloseSource nest: only the first open reads the header and
// only the last close releases the file.
class TVelmarFileIn : public TVelmarStreamedInput {
public:
    using TVelmarStreamedInput::TVelmarStreamedInput;

    int GetBitsPerSample() override;
    int GetChannels() override;
    int GetSampleRate() override;
    int GetTotalTime() override;
    void BeginRead() override;
    void EndRead() override;
    void CancelRead() override;

    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value)
    {
        FFileName = Value;
        SourceChanged();
    }
    bool Loop() const { return FLoop; }
    void SetLoop(bool Value) { FLoop = Value; }
    int OpenCount() const { return FOpenCount; }

protected:
    virtual void OpenSource() = 0;
    virtual void CloseSource() = 0;

    std::string FFileName;
    int FOpenCount = 0;
    int FBPS = 0;
    int FSR = 0;
    int FChan = 0;
    bool FLoop = false;

private:
    // Opens the source around one header lookup.
    template <class F> auto WithSource(F lookup);
};

class TVelmarOutput;

// The worker thread of one output. It calls the output's step again and
// again while a run is active and blocks while there is nothing to do.
class TVelmarThread {
public:
    using TStepProc = std::function<bool(bool Abort)>;
    using TDoneProc = std::function<void()>;
    using TErrorProc = std::function<void(const std::exception& E)>;
    using TWorkProc = std::function<bool()>;

    // Created suspended: the body runs at once but waits for Resume.
    TVelmarThread(TStepProc Step, TDoneProc Done, TErrorProc Error, TWorkProc HasWork);
    ~TVelmarThread();

    // Releases a suspended worker and wakes an idle one.
    void Resume();
    bool Suspended() const { return FSuspended.load(); }
    // The calling thread is this worker.
    bool OnWorker() const;
    // Sets ExitRequest, wakes the worker and waits until it has left, after
    // a final step call with Abort True when FinalStep. Idempotent.
    void Terminate(bool FinalStep = true);

    std::atomic<bool> SuspendWhenIdle{true};
    std::atomic<bool> StopRequest{false};
    std::atomic<bool> ExitRequest{false};

private:
    void Execute();
    void SuspendSelf();
    void WaitForWork();

    TStepProc StepProc;
    TDoneProc DoneProc;
    TErrorProc ErrorProc;
    TWorkProc HasWork;
    std::mutex FLock;
    std::condition_variable FWake;
    std::atomic<bool> FSuspended{true};
    std::atomic<bool> FFinalStep{true};
    std::thread FThread; // last: started once everything above exists
};

enum TVelmarOutputStatus { osBusy = 0, osPaused = 1, osIdle = 2 };

using TOutputDoneEvent = std::function<void(TComponent* Sender)>;
using TOutputProgressEvent = std::function<void(TComponent* Sender)>;
using TThreadExceptionEvent = std::function<void(TComponent* Sender, const std::exception& E)>;

// A sink that pulls from Input on its worker thread.
//
// Run prepares the output on the calling thread and releases the worker;
// OnProgress, OnDone and OnThreadException are called on the worker (or on
// the caller of Run when preparing fails). Busy is already False when OnDone
// runs, so OnDone may call Run for the next item.
//
// Subclasses: the most derived destructor must call ShutdownThread() first,
// so the worker never calls into a half-destroyed object.
// Ownership: the output owns its worker. Destroyed from inside its own
// events (on its worker), the program ends there with that rule as the
// reason: the worker would go on inside a freed object.
class TVelmarOutput : public TComponent {
public:
    explicit TVelmarOutput(TComponent* AOwner);
    ~TVelmarOutput() override;

    void Run();
    // Asks the running step to end the run; returns at once.
    void Stop();
    TVelmarOutputStatus Status() const;
    // Percentage of the input handed out so far; -1 when its size is unknown.
    int Progress() const;

    TVelmarInput* Input() const { return FInput; }
    void SetInput(TVelmarInput* Value);
    bool SuspendWhenIdle() const { return FThread->SuspendWhenIdle.load(); }
    void SetSuspendWhenIdle(bool Value);
    bool Busy() const { return FBusy.load(); }
    bool Active() const { return FActive.load(); }

    TOutputDoneEvent OnDone;
    TOutputProgressEvent OnProgress;
    TThreadExceptionEvent OnThreadException;

    // The removal of the input, or of one it pulls from, during a run stops
    // the run and waits for its end before the input goes (not from the
    // worker: the program ends there); then the input is cleared.
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    // One unit of work; True to be called again, False when the run is over.
    virtual bool OutputStep(bool Abort) = 0;
    virtual void FinishOutput() = 0;
    virtual void PrepareOutput() = 0;
    // Stops and joins the worker; after it, no step runs any more.
    void ShutdownThread();
    // Reports a changed Progress through OnProgress (the step's contract b).
    void ReportProgress();

    std::atomic<bool> FActive{false};
    std::atomic<int> LastProgress{0};

private:
    void RunFinished();
    void RunFailed(const std::exception& E);
    void MarkReaders(bool Reading);
    void Idle();

    std::atomic<bool> FBusy{false};
    std::atomic<bool> FDetaching{false};
    std::mutex FIdleLock;
    std::condition_variable FIdle;
    std::vector<TVelmarInput*> FReading; // the chain the current run reads; worker or Run only
    TVelmarInput* FInput = nullptr;
    std::unique_ptr<TVelmarThread> FThread;
};

// An output that writes a stream, its own unless one is handed in.
class TVelmarStreamedOutput : public TVelmarOutput {
public:
    using TVelmarOutput::TVelmarOutput;
    void SetStream(TStream* AStream);
    TStream* Stream() const { return FStream; }
    bool StreamAssigned() const { return FStreamAssigned; }

protected:
    TStream* FStream = nullptr;
    bool FStreamAssigned = false;
};

} // namespace velmar
