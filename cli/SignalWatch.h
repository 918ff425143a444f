// SIGINT, SIGTERM and SIGHUP handled on one thread of their own, so that a
// batch interrupted from the terminal can stop its encoders and clean up.
#pragma once

#include <functional>
#include <thread>

#include <signal.h>

namespace velmar::cli {

// Lifecycle: construct it in main before any other thread exists: it blocks
// the three signals in the calling thread, and threads started later inherit
// the mask, so none of them is ever interrupted; OnSignal(number) then runs
// on the watch's own thread for each one that arrives. A signal that was
// ignored when the program started (nohup, a background job of a script)
// stays ignored. The destructor stops the thread and restores the mask.
// Failure: when the watch cannot be set up, the signals keep their default
// action (the program ends at once, as without the watch).
class TSignalWatch {
public:
    explicit TSignalWatch(std::function<void(int Signal)> OnSignal);
    ~TSignalWatch();
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

private:
    void Watch();

    std::function<void(int)> FOnSignal;
    sigset_t FOldMask;
    int FSignalFd = -1;
    int FWakeFd = -1; // written by the destructor to end the thread
    std::thread FThread;
};

} // namespace velmar::cli
