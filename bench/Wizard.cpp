// Drives the wizard window offscreen through one batch, as a person would
// press "Fine", and measures the run's wall time, the longest time its
// event loop went without handling an event during the run (a 10 ms timer's
// worst lateness), and the CPU that the idle window uses before and after
// it. Built and run by bench/wizard.
// Usage: wizard OUTPUT_DIR IDLE_SECONDS [-j WORKERS] FILE...
#include "app/Apertx.h"
#include "app/Primax.h"
#include "vorbis/VelmarVorbis.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <ctime>
#include <unistd.h>

namespace {

// CPU seconds (user + system, all threads) used by this process so far.
double CpuSeconds()
{
    std::ifstream f("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// CPU milliseconds this thread has used.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Milliseconds this thread has waited, ready, for a processor.
double ThreadWaitMs()
{
    std::ifstream f("/proc/thread-self/schedstat");
    unsigned long long run = 0, wait = 0;
    f >> run >> wait;
    return wait / 1e6;
}

// Lets the window idle on its event loop for Seconds; returns the CPU used.
double Idle(double Seconds)
{
    const double before = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(int(Seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return CpuSeconds() - before;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR IDLE_SECONDS [-j WORKERS] FILE...\n", argv[0]);
        return 2;
    }
    int first = 3;
    unsigned workers = 0;
    if (std::string(argv[3]) == "-j" && argc > 5) {
        workers = unsigned(std::atoi(argv[4]));
        first = 5;
    }
    velmar::LoadCodecLibraries();
    QApplication app(argc, argv);
    velmar::PreparaApplicazione();
    velmar::TPrima prima;
    prima.CartellaMusica = argv[1];
    prima.Processi = workers;
    const double idle = std::atof(argv[2]);
    prima.show();
    Idle(1); // the first paints and the activation

    const double idleBefore = Idle(idle);
    prima.Avanti->click();
    prima.Avanti->click();
    for (int i = first; i < argc; ++i)
        prima.AggiungiVoce(argv[i]);
    prima.Verifico();

    // The probe: a 10 ms timer; how late each timeout comes is how long
    // the loop was kept from its events.
    QElapsedTimer sinceTick;
    qint64 worstLate = 0, worstAt = 0;
    int over50 = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    // And how the worst gap was spent: running (busy), ready but waiting
    // for a processor (the scheduler), or neither (blocked).
    double threadCpu = ThreadCpuMs(), worstCpu = 0;
    double threadWait = ThreadWaitMs(), worstWait = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 late = sinceTick.nsecsElapsed() - 10'000'000;
        const double cpuNow = ThreadCpuMs();
        const double waitNow = ThreadWaitMs();
        over50 += late > 50'000'000;
        if (late > worstLate) {
            worstLate = late;
            worstAt = clock.nsecsElapsed();
            worstCpu = cpuNow - threadCpu;
            worstWait = waitNow - threadWait;
        }
        threadCpu = cpuNow;
        threadWait = waitNow;
        sinceTick.restart();
    });

    const double cpuStart = CpuSeconds();
    clock.start();
    sinceTick.start();
    probe.start(10);
    prima.Avanti->click(); // "Fine"
    // The event loop waits as the program's does; a look every 20 ms ends it.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!prima.InCorso())
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    poll.stop();
    probe.stop();
    const double run = clock.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds() - cpuStart;

    const double idleAfter = Idle(idle);
    std::printf("run %.3f\ncpu %.3f\nstall_ms %.1f\nstall_at %.3f\nstall_cpu_ms %.1f\nstall_ready_ms %.1f\nstalls_over_50ms %d\n"
                "idle_before %.3f\nidle_after %.3f\n",
                run, cpu, worstLate / 1e6, worstAt / 1e9, worstCpu, worstWait, over50, idleBefore, idleAfter);
    return 0;
}
