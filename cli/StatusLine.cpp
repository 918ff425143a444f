#include "cli/StatusLine.h"

#include <algorithm>
#include <numeric>
#include <ostream>

namespace velmar::cli {

namespace {

// The next code point of valid UTF-8 at I (advanced past it); -1 for a byte
// that does not start a valid sequence (I advanced by one).
int32_t NextCodePoint(const std::string& S, size_t& I)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(S[k]); };
    const uint8_t b = byte(I);
    int len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || I + len > S.size()) {
        ++I;
        return -1;
    }
    int32_t c = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        if ((byte(I + k) & 0xC0) != 0x80) {
            ++I;
            return -1;
        }
        c = (c << 6) | (byte(I + k) & 0x3F);
    }
    static const int32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < Least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++I;
        return -1;
    }
    I += len;
    return c;
}

int CodePointColumns(int32_t C)
{
    if (C >= 0x300 && C <= 0x36F)
        return 0;
    static const std::pair<int32_t, int32_t> Wide[] = {
        {0x1100, 0x115F}, {0x2600, 0x27BF}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F},
        {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F000, 0x1FAFF}, {0x20000, 0x3FFFD},
    };
    for (auto [from, to] : Wide)
        if (C >= from && C <= to)
            return 2;
    return 1;
}

// The longest start (FromEnd: end) of Text (printable) within Columns columns.
std::string CutToColumns(const std::string& Text, int Columns, bool FromEnd = false)
{
    std::vector<size_t> starts; // of each code point
    std::vector<int> widths;
    for (size_t i = 0; i < Text.size();) {
        starts.push_back(i);
        widths.push_back(CodePointColumns(NextCodePoint(Text, i)));
    }
    int used = 0;
    size_t k = 0;
    for (; k < widths.size(); ++k) {
        const int w = widths[FromEnd ? widths.size() - 1 - k : k];
        if (used + w > Columns)
            break;
        used += w;
    }
    if (!FromEnd)
        return Text.substr(0, k < starts.size() ? starts[k] : Text.size());
    return k == 0 ? std::string() : Text.substr(starts[starts.size() - k]);
}

// Text in at most Columns columns, its middle replaced by "…" when cut:
// names differ at their start (a track number) as often as at their end.
std::string Shorten(const std::string& Text, int Columns)
{
    if (TextColumns(Text) <= Columns)
        return Text;
    if (Columns < 1)
        return {};
    const int room = Columns - 1;
    return CutToColumns(Text, room - room / 2) + "…" + CutToColumns(Text, room / 2, true);
}

std::string Clock(int64_t Seconds)
{
    const auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    const int64_t h = Seconds / 3600, m = Seconds / 60 % 60, s = Seconds % 60;
    return h > 0 ? std::to_string(h) + ":" + two(m) + ":" + two(s) : std::to_string(m) + ":" + two(s);
}

} // namespace

int TextColumns(const std::string& Text)
{
    int n = 0;
    for (size_t i = 0; i < Text.size();)
        n += CodePointColumns(NextCodePoint(Text, i));
    return n;
}

std::string Printable(const std::string& Text)
{
    std::string out;
    for (size_t i = 0; i < Text.size();) {
        const size_t from = i;
        const int32_t c = NextCodePoint(Text, i);
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            out += '?';
        else
            out.append(Text, from, i - from);
    }
    return out;
}

std::string StatusText(size_t Done, size_t Total, const std::vector<std::pair<std::string, int>>& Running,
                       int64_t SecondsLeft, int Columns)
{
    const int usable = Columns - 1;
    if (usable < 1)
        return {};
    const std::string head = "[" + std::to_string(Done) + "/" + std::to_string(Total) + "]";
    const std::string tail = SecondsLeft >= 0 && Done < Total ? "  mancano " + Clock(SecondsLeft) : "";
    const size_t n = Running.size();
    constexpr int MinName = 16; // shorter names say too little to tell files apart
    std::string line;
    // As many running files as fit with names of at least MinName columns.
    for (size_t k = n;; --k) {
        const std::string more = k == n ? "" : k == 0 ? "  " + std::to_string(n) + " in corso" : "  +" + std::to_string(n - k);
        int room = usable - TextColumns(head) - TextColumns(more) - TextColumns(tail);
        std::vector<std::string> pct(k);
        for (size_t i = 0; i < k; ++i) {
            pct[i] = " " + std::to_string(std::clamp(Running[i].second, 0, 100)) + "%";
            room -= 2 + static_cast<int>(pct[i].size());
        }
        if (k > 0 && room < MinName * static_cast<int>(k))
            continue;
        // Short names leave their room to the long ones.
        std::vector<size_t> order(k);
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return TextColumns(Running[a].first) < TextColumns(Running[b].first);
        });
        std::vector<std::string> names(k);
        for (size_t j = 0; j < k; ++j) {
            const int share = room / static_cast<int>(k - j);
            names[order[j]] = Shorten(Running[order[j]].first, share);
            room -= TextColumns(names[order[j]]);
        }
        line = head;
        for (size_t i = 0; i < k; ++i)
            line += "  " + names[i] + pct[i];
        line += more + tail;
        break;
    }
    return TextColumns(line) <= usable ? line : CutToColumns(line, usable);
}

TStatusLine::TStatusLine(std::ostream& Err, std::function<int()> Width, size_t Total, int64_t TotalWork)
    : FErr(Err), FWidth(std::move(Width)), FTotal(Total), FWork(TotalWork)
{
}

void TStatusLine::Started(size_t Index, const std::string& Name, int64_t Work)
{
    std::lock_guard<std::mutex> lock(FLock);
    FRunning[Index] = {Printable(Name), Work, 0};
    Draw(true);
}

void TStatusLine::Progress(size_t Index, int Percent)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (auto it = FRunning.find(Index); it != FRunning.end())
        it->second.Percent = Percent;
    Draw(false);
}

void TStatusLine::Ended(size_t Index, bool Done)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (auto it = FRunning.find(Index); it != FRunning.end()) {
        if (Done)
            FWorkDone += it->second.Work;
        else
            FWork -= it->second.Work;
        FRunning.erase(it);
    }
    ++FDone;
    Draw(true);
}

void TStatusLine::Line(const std::string& Text)
{
    std::lock_guard<std::mutex> lock(FLock);
    Clear();
    // One line per message: a name cannot break it or drive the terminal.
    FErr << Printable(Text) << '\n';
    FErr.flush();
    Draw(true);
}

void TStatusLine::Finish()
{
    std::lock_guard<std::mutex> lock(FLock);
    Clear();
    FFinished = true;
}

void TStatusLine::Clear()
{
    if (FShown > 0)
        FErr << '\r' << std::string(std::max(0, std::min(FShown, FWidth() - 1)), ' ') << '\r';
    FShown = 0;
}

void TStatusLine::Draw(bool Force)
{
    if (!FWidth || FFinished)
        return;
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (!Force && now - FLast < milliseconds(100))
        return;
    FLast = now;
    const int columns = FWidth();
    int64_t progress = FWorkDone;
    std::vector<std::pair<std::string, int>> running;
    for (const auto& [index, r] : FRunning) {
        running.emplace_back(r.Name, r.Percent);
        progress += r.Work / 100 * std::clamp(r.Percent, 0, 100);
    }
    int64_t left = -1;
    const auto elapsed = duration_cast<milliseconds>(now - FStart).count();
    if (progress > 0 && elapsed >= 2000 && FWork >= progress)
        left = static_cast<int64_t>(double(elapsed) / 1000 * double(FWork - progress) / double(progress) + 0.5);
    const std::string text = StatusText(FDone, FTotal, running, left, columns);
    const int shown = TextColumns(text);
    // Spaces over what the last line had beyond this one, within the width.
    const int pad = std::max(0, std::min(FShown, columns - 1) - shown);
    FErr << '\r' << text << std::string(pad, ' ');
    FErr.flush();
    FShown = shown + pad;
}

} // namespace velmar::cli
