#include "pipeline/VelmarClasses.h"

#include <cmath>

namespace velmar {

namespace {

// A lifetime rule broken: the program ends here, with the rule as the
// reason, instead of using freed memory later.
[[noreturn]] void Misuse(const char* Rule) noexcept
{
    try {
        throw VelmarException(Rule);
    } catch (...) {
        std::terminate();
    }
}

} // namespace

// ---- inputs ----------------------------------------------------------------

TVelmarInput::~TVelmarInput() { CheckNotRead(); }

void TVelmarInput::CheckNotRead() const
{
    if (FReaders.load() > 0)
        Misuse("An input must not be destroyed while an output reads it");
}

void TVelmarInput::CancelRead()
{
    try {
        EndRead();
    } catch (const std::exception&) {
    }
    FBusy = false;
}

void TVelmarStreamedInput::SetStream(TStream* AStream)
{
    FStream = AStream;
    FStreamAssigned = AStream != nullptr;
    SourceChanged();
}

template <class F> auto TVelmarFileIn::WithSource(F lookup)
{
    OpenSource();
    try {
        auto value = lookup();
        CloseSource();
        return value;
    } catch (...) {
        CloseSource();
        throw;
    }
}

int TVelmarFileIn::GetBitsPerSample()
{
    return WithSource([this] { return FBPS; });
}

int TVelmarFileIn::GetChannels()
{
    return WithSource([this] { return FChan; });
}

int TVelmarFileIn::GetSampleRate()
{
    return WithSource([this] { return FSR; });
}

int TVelmarFileIn::GetTotalTime()
{
    return WithSource([this] {
        if (FSR == 0 || FChan == 0 || FBPS / 8 == 0)
            return 0;
        double bytesPerSecond = double(FSR) * FChan * (FBPS / 8);
        return static_cast<int>(std::nearbyint(double(Size()) / bytesPerSecond));
    });
}

void TVelmarFileIn::BeginRead()
{
    if (FBusy)
        throw VelmarException("The component is buisy");
    if (!FStreamAssigned && FFileName.empty())
        throw VelmarException("The file name is not assigned");
    OpenSource();
    FBusy = true;
    BufStart = 1;
    BufEnd = 0;
    FPosition = 0;
}

void TVelmarFileIn::EndRead()
{
    CloseSource();
    FBusy = false;
}

void TVelmarFileIn::CancelRead()
{
    TVelmarInput::CancelRead();
    FOpenCount = 0;
}

// ---- worker thread ---------------------------------------------------------

TVelmarThread::TVelmarThread(TStepProc Step, TDoneProc Done, TErrorProc Error, TWorkProc Work)
    : StepProc(std::move(Step)), DoneProc(std::move(Done)), ErrorProc(std::move(Error)),
      HasWork(std::move(Work)), FThread([this] { Execute(); })
{
}

TVelmarThread::~TVelmarThread() { Terminate(false); }

bool TVelmarThread::OnWorker() const
{
    return FThread.get_id() == std::this_thread::get_id();
}

void TVelmarThread::Resume()
{
    std::lock_guard<std::mutex> lock(FLock);
    FSuspended = false;
    FWake.notify_all();
}

// A run started meanwhile (from OnDone, or from another thread just after
// it) keeps the worker going instead of leaving that run paused for good.
void TVelmarThread::SuspendSelf()
{
    std::lock_guard<std::mutex> lock(FLock);
    if (!HasWork())
        FSuspended = true;
}

// An idle worker blocks here instead of spinning on an inactive step.
void TVelmarThread::WaitForWork()
{
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait(lock, [this] { return ExitRequest.load() || (!FSuspended.load() && HasWork()); });
}

void TVelmarThread::Terminate(bool FinalStep)
{
    if (!FThread.joinable())
        return;
    FFinalStep = FinalStep;
    {
        std::lock_guard<std::mutex> lock(FLock);
        ExitRequest = true;
        FSuspended = false;
        FWake.notify_all();
    }
    if (FThread.get_id() == std::this_thread::get_id())
        Misuse("An output must not be destroyed from its own events");
    FThread.join();
}

void TVelmarThread::Execute()
{
    while (!ExitRequest) {
        WaitForWork();
        if (ExitRequest)
            break;
        try {
            if (!StepProc(StopRequest)) {
                StopRequest = false;
                DoneProc();
                if (SuspendWhenIdle)
                    SuspendSelf();
            }
        } catch (const std::exception& e) {
            StopRequest = false;
            try {
                ErrorProc(e);
            } catch (const std::exception&) {
            }
            if (SuspendWhenIdle)
                SuspendSelf();
        }
    }
    if (FFinalStep) {
        try {
            StepProc(true);
        } catch (const std::exception&) {
        }
    }
    ExitRequest = false;
}

// ---- outputs ---------------------------------------------------------------

TVelmarOutput::TVelmarOutput(TComponent* AOwner) : TComponent(AOwner)
{
    FThread = std::make_unique<TVelmarThread>(
        [this](bool abort) { return OutputStep(abort); }, [this] { RunFinished(); },
        [this](const std::exception& e) { RunFailed(e); }, [this] { return FActive.load(); });
    FThread->SuspendWhenIdle = true;
}

TVelmarOutput::~TVelmarOutput()
{
    // A subclass that did not stop the worker: no final step into it now.
    if (FThread)
        FThread->Terminate(false);
    MarkReaders(false); // a run cut short by destruction reads no more
}

void TVelmarOutput::ShutdownThread()
{
    FThread->Terminate(true);
}

void TVelmarOutput::SetSuspendWhenIdle(bool Value)
{
    FThread->SuspendWhenIdle = Value;
    FThread->Resume(); // an idle worker re-reads the flag
}

void TVelmarOutput::Run()
{
    if (FBusy || FDetaching)
        throw VelmarException("Component is buisy");
    if (!FInput)
        throw VelmarException("Input is not assigned");
    try {
        PrepareOutput();
        MarkReaders(true);
        FBusy = true;
        FThread->StopRequest = false;
        FActive = true;
        FThread->Resume();
    } catch (const std::exception& e) {
        RunFailed(e);
    }
}

void TVelmarOutput::Stop()
{
    FThread->StopRequest = true;
}

TVelmarOutputStatus TVelmarOutput::Status() const
{
    if (!FBusy)
        return osIdle;
    return FThread->Suspended() ? osPaused : osBusy;
}

int TVelmarOutput::Progress() const
{
    if (!FInput)
        return 0;
    int64_t size = FInput->Size();
    if (size == -1)
        return -1;
    if (size == 0)
        return 0;
    return static_cast<int>(std::nearbyint(double(FInput->Position()) / double(size) * 100.0));
}

void TVelmarOutput::ReportProgress()
{
    int p = Progress();
    if (p != LastProgress) {
        LastProgress = p;
        if (OnProgress)
            OnProgress(this);
    }
}

void TVelmarOutput::SetInput(TVelmarInput* Value)
{
    if (FBusy)
        throw VelmarException("Component is buisy");
    FInput = Value;
}

void TVelmarOutput::Notification(TComponent* AComponent, TOperation Operation)
{
    bool read = false;
    for (TVelmarInput* in = FInput; in && !read; in = in->Upstream())
        read = in == AComponent;
    if (read && Operation == TOperation::opRemove) {
        if (FBusy) {
            if (FThread->OnWorker())
                Misuse("An input must not be removed from the events of the output that reads it");
            FDetaching = true;
            Stop();
            std::unique_lock<std::mutex> lock(FIdleLock);
            FIdle.wait(lock, [this] { return !FBusy.load(); });
            // Links that kept the input while it was read may let it go now.
            for (TVelmarInput* in = FInput; in; in = in->Upstream())
                if (in->Upstream() == AComponent)
                    in->Notification(AComponent, Operation);
        }
        if (AComponent == FInput)
            SetInput(nullptr);
        FDetaching = false; // a run started from OnDone meanwhile was refused
    }
    TComponent::Notification(AComponent, Operation);
}

// Counts this run among the readers of each input of the chain.
void TVelmarOutput::MarkReaders(bool Reading)
{
    if (Reading) {
        for (TVelmarInput* in = FInput; in; in = in->Upstream()) {
            ++in->FReaders;
            FReading.push_back(in);
        }
        return;
    }
    for (TVelmarInput* in : FReading)
        --in->FReaders;
    FReading.clear();
}

// The run is over: Busy is already False.
void TVelmarOutput::Idle()
{
    std::lock_guard<std::mutex> lock(FIdleLock);
    FIdle.notify_all();
}

void TVelmarOutput::RunFinished()
{
    if (!FBusy)
        return;
    FActive = false;
    FinishOutput();
    MarkReaders(false);
    FBusy = false;
    Idle();
    if (OnDone)
        OnDone(this);
}

void TVelmarOutput::RunFailed(const std::exception& E)
{
    if (Status() != osIdle) {
        try {
            FinishOutput();
        } catch (const std::exception&) {
        }
    }
    MarkReaders(false);
    FActive = false;
    FBusy = false;
    Idle();
    if (OnThreadException)
        OnThreadException(this, E);
}

void TVelmarStreamedOutput::SetStream(TStream* AStream)
{
    FStream = AStream;
    FStreamAssigned = AStream != nullptr;
}

} // namespace velmar
