// SIGINT, SIGTERM, SIGHUP and SIGPIPE handled on one thread of their own,
// so that a batch interrupted from the terminal, by a logout or by a closed
// pipe can stop its encoders and clean up, then end by the signal.
#pragma once

#include <functional>
#include <thread>

#include <signal.h>

namespace velmar::cli {

// Lifecycle: construct it in main before any other thread exists: it blocks
// SIGINT, SIGTERM and SIGHUP in the calling thread, and threads started
// later inherit the mask, so none of them is ever interrupted; SIGPIPE, which
// goes to the thread whose write failed, is caught by a handler that only
// passes it on. OnSignal(number) then runs on the watch's own thread for
// the first one that arrives; a second one ends the process at once, by that
// signal. A signal that was ignored when the program started (nohup, a
// background job of a script) stays ignored. The destructor stops the
// thread and restores the mask and the handler.
// Failure: when the watch cannot be set up, the signals keep their default
// action (the program ends at once, as without the watch).
class TSignalWatch {
public:
    explicit TSignalWatch(std::function<void(int Signal)> OnSignal);
    ~TSignalWatch();
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

    // Ends the process by Signal, as if the program had not caught it, so
    // that a shell sees it (status 128 + Signal, a loop stops). Returns only
    // if the signal does not end a process by default.
    [[noreturn]] static void EndBy(int Signal);

private:
    void Watch();

    std::function<void(int)> FOnSignal;
    sigset_t FOldMask;
    struct sigaction FOldPipe {};
    bool FPipeCaught = false;
    int FSignalFd = -1;
    int FPipeFd = -1; // SIGPIPE's handler writes here
    int FWakeFd = -1; // written by the destructor to end the thread
    std::thread FThread;
};

} // namespace velmar::cli
