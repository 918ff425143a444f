// Many runs started, stopped and destroyed at random points: no hang, no
// leak (LeakSanitizer in the checked build), every finished file complete.
#include "vorbis/VelmarVorbis.h"

#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

using namespace velmar;
using namespace testing_support;
using namespace std::chrono_literals;

TEST(Stress, StartStopAndDestroyAtRandomPoints)
{
    LoadCodecLibraries();
    TempDir dir;
    WriteBytes(dir.File("in.wav"), MakeWav16(Sine(44100 * 3, 44100, {440, 660}), 2, 44100));
    std::mt19937 rng(2026);
    std::mutex m;
    std::condition_variable cv;
    int ended = 0;

    for (int cycle = 0; cycle < 200; ++cycle) {
        TComponent owner;
        auto* wave = TComponent::Create<TVelmarWaveIn>(&owner);
        auto* rate = TComponent::Create<TVelmarRateConverter>(&owner);
        auto* vorbis = TComponent::Create<TVelmarVorbisOut>(&owner);
        wave->SetFileName(dir.File("in.wav"));
        rate->SetInput(wave);
        rate->SetOutSampleRate(cycle % 3 ? 44100 : 22050);
        rate->SetAltaQualita(cycle % 2);
        vorbis->SetInput(rate);
        vorbis->SetSuspendWhenIdle(cycle % 2);
        vorbis->SetFileName(dir.File("out" + std::to_string(cycle % 4) + ".ogg"));
        ended = 0;
        auto end = [&](TComponent*) {
            std::lock_guard<std::mutex> g(m);
            ++ended;
            cv.notify_all();
        };
        vorbis->OnDone = end;
        vorbis->OnThreadException = [&](TComponent* s, const std::exception&) { end(s); };

        vorbis->Run();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
        if (rng() % 4 == 0)
            continue; // destroyed while running
        vorbis->Stop();
        {
            std::unique_lock<std::mutex> g(m);
            ASSERT_TRUE(cv.wait_for(g, 20s, [&] { return ended == 1; })) << "cycle " << cycle;
        }
        OggPages p = ScanOggPages(vorbis->FileName());
        EXPECT_TRUE(p.ok && p.lastIsEos) << "cycle " << cycle;
        vorbis->Run(); // again at once, then destroyed mid-run or soon after
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
    }
}
