#include "pipeline/VelmarClasses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace velmar;
using namespace std::chrono_literals;

namespace {

// An input of Total bytes (Size -1 when Unsized), handed out in 1000-byte blocks.
class FakeInput : public TVelmarInput {
public:
    FakeInput(TComponent* owner, int64_t total, bool unsized = false)
        : TVelmarInput(owner), Total(total), Unsized(unsized) {}
    ~FakeInput() override { CheckNotRead(); }
    int GetBitsPerSample() override { return 16; }
    int GetChannels() override { return 1; }
    int GetSampleRate() override { return 8000; }
    int ReadData(void*, int size) override
    {
        int n = static_cast<int>(std::min<int64_t>({size, 1000, Total - Position()}));
        FPosition += n;
        return n;
    }
    void BeginRead() override
    {
        FSize = Unsized ? -1 : Total;
        FPosition = 0;
        FBusy = true;
        ++Begins;
    }
    void EndRead() override
    {
        FBusy = false;
        ++Ends;
    }
    int64_t Total;
    bool Unsized;
    std::atomic<int> Begins{0}, Ends{0};
};

// An output that pulls blocks and counts what happens to it.
class FakeOutput : public TVelmarOutput {
public:
    explicit FakeOutput(TComponent* owner) : TVelmarOutput(owner) {}
    ~FakeOutput() override { ShutdownThread(); }

    bool OutputStep(bool abort) override
    {
        ++Steps;
        if (Shared)
            ++*Shared;
        if (!Active())
            return true;
        ++ActiveSteps;
        ReportProgress();
        if (abort)
            return false;
        if (StepThrows)
            throw VelmarException("step failed");
        if (StepDelay.count())
            std::this_thread::sleep_for(StepDelay);
        char buf[4096];
        return Input()->ReadData(buf, sizeof buf) > 0;
    }
    void FinishOutput() override
    {
        ++Finishes;
        Input()->EndRead();
        if (FinishThrows)
            throw VelmarException("finish failed");
    }
    void PrepareOutput() override
    {
        if (PrepareThrows)
            throw VelmarException("prepare failed");
        Input()->BeginRead();
    }

    std::atomic<int> Steps{0}, ActiveSteps{0}, Finishes{0};
    std::atomic<bool> StepThrows{false}, PrepareThrows{false}, FinishThrows{false};
    std::chrono::milliseconds StepDelay{0};
    std::atomic<int>* Shared = nullptr; // counts steps beyond the output's life
};

// An input that hands on what it pulls from Source (a converter's place).
class FakeLink : public FakeInput {
public:
    using FakeInput::FakeInput;
    TVelmarInput* Upstream() const override { return Source; }
    int ReadData(void* buf, int size) override { return Source->ReadData(buf, size); }
    void Notification(TComponent* c, TOperation op) override
    {
        if (c == Source && op == TOperation::opRemove && !Busy())
            Source = nullptr;
    }
    TVelmarInput* Source = nullptr;
};

// Waits for the output's events.
struct Events {
    std::mutex m;
    std::condition_variable cv;
    int done = 0, errors = 0;
    std::string lastError;
    std::vector<int> progress;

    void Attach(FakeOutput& o)
    {
        o.OnDone = [this](TComponent*) { Bump(done); };
        o.OnThreadException = [this](TComponent*, const std::exception& e) {
            {
                std::lock_guard<std::mutex> g(m);
                lastError = e.what();
            }
            Bump(errors);
        };
    }
    void Bump(int& counter)
    {
        std::lock_guard<std::mutex> g(m);
        ++counter;
        cv.notify_all();
    }
    bool WaitFor(int& counter, int value)
    {
        std::unique_lock<std::mutex> g(m);
        return cv.wait_for(g, 5s, [&] { return counter >= value; });
    }
};

struct Chain {
    TComponent owner;
    FakeInput* in = TComponent::Create<FakeInput>(&owner, 100000);
    FakeOutput* out = TComponent::Create<FakeOutput>(&owner);
    Events ev;
    Chain()
    {
        out->SetInput(in);
        ev.Attach(*out);
    }
};

} // namespace

TEST(VelmarOutput, RunEndsThroughOnDoneWithFinishOnceAndProgressTo100)
{
    Chain c;
    std::vector<int> seen;
    c.out->OnProgress = [&](TComponent* s) { seen.push_back(static_cast<FakeOutput*>(s)->Progress()); };
    c.out->Run();
    ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));
    EXPECT_EQ(c.out->Status(), osIdle);
    EXPECT_EQ(c.out->Finishes, 1);
    EXPECT_EQ(c.in->Ends, 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(VelmarOutput, ProgressFollowsTheInputSize)
{
    TComponent owner;
    auto* out = TComponent::Create<FakeOutput>(&owner);
    EXPECT_EQ(out->Progress(), 0); // no input
    auto* unsized = TComponent::Create<FakeInput>(&owner, 10, true);
    out->SetInput(unsized);
    unsized->BeginRead();
    EXPECT_EQ(out->Progress(), -1);
    auto* empty = TComponent::Create<FakeInput>(&owner, 0);
    out->SetInput(empty);
    empty->BeginRead();
    EXPECT_EQ(out->Progress(), 0);
}

TEST(VelmarOutput, StopEndsTheRunThroughOnDone)
{
    Chain c;
    c.in->Total = int64_t(1) << 40; // never ends on its own
    c.out->StepDelay = 1ms;
    c.out->Run();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(c.out->Status(), osBusy);
    c.out->Stop();
    ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));
    EXPECT_EQ(c.ev.errors, 0);
    EXPECT_EQ(c.out->Finishes, 1);
}

TEST(VelmarOutput, StopWhileIdleDoesNotAffectTheNextRun)
{
    Chain c;
    c.out->Stop();
    c.out->Run();
    ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));
    EXPECT_EQ(c.in->Position(), 100000); // the whole input went through
}

TEST(VelmarOutput, RunWhileBusyOrWithoutInputRaises)
{
    Chain c;
    c.in->Total = int64_t(1) << 40;
    c.out->StepDelay = 1ms;
    c.out->Run();
    try {
        c.out->Run();
        FAIL() << "second Run accepted";
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "Component is buisy");
    }
    EXPECT_THROW(c.out->SetInput(nullptr), VelmarException);
    EXPECT_EQ(c.out->Status(), osBusy);
    c.out->Stop();
    ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));

    c.out->SetInput(nullptr);
    try {
        c.out->Run();
        FAIL() << "Run without input accepted";
    } catch (const VelmarException& e) {
        EXPECT_STREQ(e.what(), "Input is not assigned");
    }
}

TEST(VelmarOutput, ErrorsBecomeOnThreadException)
{
    struct Case {
        const char* name;
        bool prepare, step, finish;
        const char* message;
        int finishes; // FinishOutput calls
    };
    const Case cases[] = {
        {"prepare", true, false, false, "prepare failed", 0},
        {"step", false, true, false, "step failed", 1},
        {"finish", false, false, true, "finish failed", 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Chain c;
        c.out->PrepareThrows = k.prepare;
        c.out->StepThrows = k.step;
        c.out->FinishThrows = k.finish;
        c.out->Run(); // never raises for these
        ASSERT_TRUE(c.ev.WaitFor(c.ev.errors, 1));
        EXPECT_EQ(c.ev.lastError, k.message);
        EXPECT_EQ(c.ev.done, 0);
        EXPECT_EQ(c.out->Finishes, k.finishes);
        EXPECT_EQ(c.out->Status(), osIdle);

        // The output can run again afterwards.
        c.out->PrepareThrows = c.out->StepThrows = c.out->FinishThrows = false;
        c.out->Run();
        EXPECT_TRUE(c.ev.WaitFor(c.ev.done, 1));
    }
}

TEST(VelmarOutput, RunFromOnDoneChainsTheNextRunAtOnce)
{
    for (bool suspendWhenIdle : {false, true}) {
        SCOPED_TRACE(suspendWhenIdle);
        Chain c;
        c.out->SetSuspendWhenIdle(suspendWhenIdle);
        int runs = 0;
        c.out->OnDone = [&](TComponent*) {
            if (++runs < 3)
                c.out->Run();
            c.ev.Bump(c.ev.done);
        };
        c.out->Run();
        ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 3));
        EXPECT_EQ(c.in->Begins, 3);
        EXPECT_EQ(c.in->Ends, 3);
        EXPECT_EQ(c.out->Status(), osIdle);
    }
}

TEST(VelmarOutput, RunRightAfterOnDoneFromAnotherThreadIsNotLeftPaused)
{
    for (int i = 0; i < 50; ++i) {
        Chain c;
        c.in->Total = 1000;
        c.out->Run();
        ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));
        c.out->Run(); // races with the worker suspending itself
        ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 2)) << "iteration " << i;
    }
}

TEST(VelmarOutput, IdleWorkerDoesNotSpin)
{
    Chain c;
    c.out->SetSuspendWhenIdle(false);
    c.out->Run();
    ASSERT_TRUE(c.ev.WaitFor(c.ev.done, 1));
    const int before = c.out->Steps;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.out->Steps, before);
    c.out->Stop(); // wakes nothing into work
    std::this_thread::sleep_for(20ms);
    EXPECT_LE(c.out->Steps - before, 1);
}

TEST(VelmarOutput, DestroyingWhileRunningStopsTheWorker)
{
    TComponent owner;
    auto* in = TComponent::Create<FakeInput>(&owner, int64_t(1) << 40);
    auto* out = TComponent::Create<FakeOutput>(&owner);
    out->SetInput(in);
    out->StepDelay = 1ms;
    std::atomic<int> steps{0};
    out->Shared = &steps;
    out->Run();
    std::this_thread::sleep_for(10ms);
    owner.DestroyComponent(out); // returns only once the worker has left
    const int stepsThen = steps;
    const int64_t readThen = in->Position();
    std::this_thread::sleep_for(30ms);
    EXPECT_GT(stepsThen, 1);
    EXPECT_EQ(steps, stepsThen);
    EXPECT_EQ(in->Position(), readThen);
}

// Removing what a run reads, directly or behind another input, stops the
// run first; nothing reads the removed input afterwards.
TEST(VelmarOutput, RemovingAnInputARunReadsStopsTheRunFirst)
{
    for (bool behindALink : {false, true}) {
        SCOPED_TRACE(behindALink);
        TComponent owner;
        auto* in = TComponent::Create<FakeInput>(&owner, int64_t(1) << 40);
        FakeLink* link = nullptr;
        if (behindALink) {
            link = TComponent::Create<FakeLink>(&owner, 0);
            link->Source = in;
        }
        auto* out = TComponent::Create<FakeOutput>(&owner);
        Events ev;
        ev.Attach(*out);
        out->SetInput(behindALink ? static_cast<TVelmarInput*>(link) : in);
        out->StepDelay = 1ms;
        out->Run();
        std::this_thread::sleep_for(10ms);
        owner.DestroyComponent(in); // freed here: a later read would be caught by the sanitizers
        EXPECT_TRUE(ev.WaitFor(ev.done, 1));
        EXPECT_FALSE(out->Busy());
        EXPECT_EQ(behindALink ? link->Source : out->Input(), nullptr);
    }
}

TEST(OutputLifetimeDeathTest, BreakingALifetimeRuleEndsTheProgramThere)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TComponent owner;
            auto* in = TComponent::Create<FakeInput>(&owner, 100);
            auto* out = TComponent::Create<FakeOutput>(&owner);
            out->SetInput(in);
            std::atomic<bool> never{false};
            out->OnDone = [&](TComponent*) { owner.DestroyComponent(out); };
            out->Run();
            while (!never)
                std::this_thread::sleep_for(1ms);
        },
        "must not be destroyed from its own events");
    EXPECT_DEATH(
        {
            TComponent owner;
            auto in = std::make_unique<FakeInput>(nullptr, int64_t(1) << 40);
            auto* out = TComponent::Create<FakeOutput>(&owner);
            out->SetInput(in.get());
            out->StepDelay = 1ms;
            out->Run();
            in.reset();
        },
        "must not be destroyed while an output reads it");
}

TEST(VelmarOutput, FinalStepAtDestructionSeesAbort)
{
    TComponent owner;
    auto* in = TComponent::Create<FakeInput>(&owner, 0);
    struct Recorder : FakeOutput {
        using FakeOutput::FakeOutput;
        std::vector<bool>* log = nullptr;
        bool OutputStep(bool abort) override
        {
            log->push_back(abort);
            return FakeOutput::OutputStep(abort);
        }
        ~Recorder() override { ShutdownThread(); }
    };
    std::vector<bool> log;
    auto* out = TComponent::Create<Recorder>(&owner);
    out->log = &log;
    out->SetInput(in);
    owner.DestroyComponent(out);
    ASSERT_EQ(log.size(), 1u); // a never-run output steps only once, with Abort
    EXPECT_TRUE(log[0]);
}

TEST(VelmarOutput, RemovingTheInputClearsIt)
{
    TComponent owner;
    auto* in = TComponent::Create<FakeInput>(&owner, 10);
    auto* out = TComponent::Create<FakeOutput>(&owner);
    out->SetInput(in);
    owner.DestroyComponent(in);
    EXPECT_EQ(out->Input(), nullptr);
}
