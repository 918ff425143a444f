// Feeds arbitrary bytes, as a file, to TVelmarOggVorbis: LoadInfo, the
// computed properties and WriteTags. Besides the sanitizers it checks what a
// rewrite must keep: a refused rewrite leaves the file as it was, no
// temporary file stays, and an accepted one changes only the second page,
// whose checksum libogg verifies, and loads again with the new comment.
#include "vorbis/VelmarOggVorbis.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string Marker = "Codificato con Velmar Fennick";

[[noreturn]] void Fail(const char* What)
{
    std::fprintf(stderr, "VelmarOggVorbisFuzz: %s\n", What);
    std::abort();
}

// One work file per process, removed with its temporary at exit.
struct WorkPath {
    std::string path;
    WorkPath()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
        path = dir + "/velmar-fuzz-" + std::to_string(::getpid()) + ".ogg";
    }
    ~WorkPath()
    {
        ::unlink(path.c_str());
        ::unlink((path + "~").c_str());
    }
};

const std::string& WorkFile()
{
    static const WorkPath work;
    return work.path;
}

void WriteFile(const std::string& Path, const uint8_t* Data, size_t Size)
{
    std::ofstream f(Path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    if (!f)
        Fail("cannot write the work file");
}

Bytes ReadFile(const std::string& Path)
{
    std::ifstream f(Path, std::ios::binary | std::ios::ate);
    Bytes b(static_cast<size_t>(std::max<std::streamoff>(0, f.tellg())));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
}

// End of the page starting at Pos, 0 when no whole page header is there.
size_t PageEnd(const Bytes& File, size_t Pos)
{
    if (Pos + 27 > File.size())
        return 0;
    const size_t segments = File[Pos + 26];
    if (Pos + 27 + segments > File.size())
        return 0;
    size_t end = Pos + 27 + segments;
    for (size_t k = 0; k < segments; ++k)
        end += File[Pos + 27 + k];
    return end;
}

// libogg's own reading: a page must start exactly at Pos with a valid checksum.
bool PageVerifies(const Bytes& File, size_t Pos, size_t End)
{
    ogg_sync_state oy;
    ogg_sync_init(&oy);
    const size_t n = End - Pos;
    char* buf = ogg_sync_buffer(&oy, static_cast<long>(n));
    std::memcpy(buf, File.data() + Pos, n);
    ogg_sync_wrote(&oy, static_cast<long>(n));
    ogg_page og;
    const long got = ogg_sync_pageseek(&oy, &og);
    ogg_sync_clear(&oy);
    return got == static_cast<long>(n);
}

void CheckRewrite(const Bytes& Before, const Bytes& After)
{
    velmar::TVelmarOggVorbis again;
    if (!again.LoadInfo(WorkFile()))
        Fail("a rewritten file does not load");
    if (again.Commento() != Marker)
        Fail("the rewritten comment does not read back");
    const size_t first = static_cast<size_t>(again.ID3v2Size());
    const size_t second = PageEnd(After, first);
    const size_t secondEnd = second ? PageEnd(After, second) : 0;
    const size_t oldEnd = second ? PageEnd(Before, second) : 0;
    if (!second || !secondEnd || !oldEnd || secondEnd > After.size() || oldEnd > Before.size())
        Fail("the rewritten pages are not whole");
    if (!std::equal(Before.begin(), Before.begin() + long(second), After.begin()))
        Fail("bytes before the second page changed");
    if (!std::equal(Before.begin() + long(oldEnd), Before.end(), After.begin() + long(secondEnd), After.end()))
        Fail("bytes after the second page changed");
    if (!PageVerifies(After, second, secondEnd))
        Fail("the second page's checksum does not verify");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string& path = WorkFile();
    WriteFile(path, Data, Size);
    const Bytes before(Data, Data + Size);
    try {
        velmar::TVelmarOggVorbis ogg;
        const bool loaded = ogg.LoadInfo(path);
        volatile double sink = ogg.Durata() + ogg.BitRate() + ogg.Valido() + ogg.TempoDelBrano().size() +
                               ogg.Modo().size() + ogg.BitRateNominal();
        (void)sink;
        ogg.SetCommento(Marker);
        const bool written = ogg.WriteTags(path);
        const Bytes after = ReadFile(path);
        if (::access((path + "~").c_str(), F_OK) == 0)
            Fail("a temporary file was left");
        if (!written && after != before)
            Fail("a refused rewrite changed the file");
        if (written && !loaded)
            Fail("rewrote a file it does not load");
        if (written)
            CheckRewrite(before, after);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception: %s\n", e.what());
        Fail("a readable file raised an exception");
    }
    return 0;
}
