// The status line on a terminal: never wider than the terminal, rewritten
// in place, so the screen never scrolls.
#include "cli/StatusLine.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar::cli;
using namespace testing_support;

namespace {

// Columns counted apart from the code: one per UTF-8 character, two for
// the CJK ideographs (U+4E00..U+9FFF, lead bytes E4..E9) the tests use.
int Columns(const std::string& S)
{
    int n = 0;
    for (unsigned char c : S)
        n += (c & 0xC0) != 0x80 ? (c >= 0xE4 && c <= 0xE9 ? 2 : 1) : 0;
    return n;
}

// The pieces a terminal shows from the start of a line: split at \r and \n.
std::vector<std::string> Pieces(const std::string& S)
{
    std::vector<std::string> out(1);
    for (char c : S) {
        if (c == '\r' || c == '\n')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

} // namespace

TEST(StatusLine, TextFitsEveryWidth)
{
    const std::vector<std::pair<std::string, int>> running = {
        {"01 Un brano dal nome piuttosto lungo, come capita.wav", 5},
        {"02 Già è così.wav", 100},
        {"03 東京の夜.wav", 42},
        {"04.wav", 0},
    };
    for (int columns = 1; columns <= 160; ++columns) {
        for (size_t n = 0; n <= running.size(); ++n) {
            const std::vector<std::pair<std::string, int>> some(running.begin(), running.begin() + n);
            const std::string text = StatusText(3, 120, some, columns % 2 ? 4000 : -1, columns);
            EXPECT_LE(Columns(text), columns - 1) << columns << ": " << text;
            if (columns >= 20) {
                EXPECT_EQ(text.rfind("[3/120]", 0), 0u) << text;
            }
            for (const auto& [name, pct] : some) {
                if (columns >= 160) {
                    EXPECT_NE(text.find(name + " " + std::to_string(pct) + "%"), std::string::npos) << text;
                }
            }
        }
    }
}

TEST(StatusLine, AnEightyColumnTerminalNeverScrolls)
{
    TempDir dir;
    const auto wav = MakeWav16(Sine(44100 * 15, 44100, {440, 660}, 0.3), 2, 44100);
    std::vector<std::string> args = {FENNICK_CLI_PATH, "-j", "4", "-o", "out"};
    for (const char* name : {"01 Un brano dal nome piuttosto lungo.wav", "02 Già è così, un altro nome lungo.wav",
                             "03 Terzo.wav", "04 Quarto brano, anche questo lungo.wav", "05.wav", "06 Sesto.wav"}) {
        WriteBytes(dir.File(name), wav);
        args.push_back(name);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.Path().c_str()) != 0)
            ::_exit(126);
        ::execv(FENNICK_CLI_PATH, argv.data());
        ::_exit(127);
    }
    std::string screen;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            screen.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break; // EIO: the child closed the terminal
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;

    // One line feed only, the closing line's: every update went over the last.
    EXPECT_EQ(std::count(screen.begin(), screen.end(), '\n'), 1) << screen;
    EXPECT_NE(screen.find("6 file codificati, 0 saltati, 0 errori → out\r\n"), std::string::npos)
        << screen;
    int updates = 0;
    for (const std::string& piece : Pieces(screen)) {
        EXPECT_LT(Columns(piece), 80) << piece;
        updates += piece.find('%') != std::string::npos;
    }
    EXPECT_GE(updates, 2) << screen;
}
