// fennick-cli's status line: the state of a batch on one terminal line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmar::cli {

// The columns a UTF-8 text takes on a terminal (East Asian wide characters
// two, combining accents none; when in doubt, more rather than fewer).
int TextColumns(const std::string& Text);
// Text made safe for one terminal line: control characters and bytes that
// are not UTF-8 become '?'.
std::string Printable(const std::string& Text);

// The status line's text, at most Columns - 1 columns wide (the last column
// stays free, so no terminal wraps it): "[3/12]  a.wav 45%  b.wav 7%  mancano
// 1:05". Names are shortened in the middle ("01 Un br…ungo.wav"), running
// files left out ("+2") when even short names do not fit. SecondsLeft < 0:
// no estimate yet; none is shown once every file is done.
std::string StatusText(size_t Done, size_t Total, const std::vector<std::pair<std::string, int>>& Running,
                       int64_t SecondsLeft, int Columns);

// Shows a batch on one line of Err, rewritten in place, and writes whole
// lines (failures, warnings) above it without tearing it, each made
// Printable. Work is what a
// file weighs (its size) for the estimate of the time left.
// Thread: any; calls are serialised. Without Width (not a terminal) only
// Line writes anything.
class TStatusLine {
public:
    // Width: the terminal's columns, asked at every redraw (a resize counts).
    TStatusLine(std::ostream& Err, std::function<int()> Width, size_t Total, int64_t TotalWork);

    void Started(size_t Index, const std::string& Name, int64_t Work);
    void Progress(size_t Index, int Percent);
    // Done: its work was done (encoded or failed); false: it left the batch
    // without costing anything (skipped, discarded).
    void Ended(size_t Index, bool Done);
    void Line(const std::string& Text);
    // Clears the status line for good.
    void Finish();

private:
    struct TRunning {
        std::string Name;
        int64_t Work = 0;
        int Percent = 0;
    };
    void Draw(bool Force);
    void Clear();

    std::ostream& FErr;
    const std::function<int()> FWidth;
    std::mutex FLock;
    const size_t FTotal;
    size_t FDone = 0;
    int64_t FWork, FWorkDone = 0;
    std::map<size_t, TRunning> FRunning;
    const std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLast{};
    int FShown = 0; // columns on screen
    bool FFinished = false;
};

} // namespace velmar::cli
