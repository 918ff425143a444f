#include "platform/PipeStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace velmar {

TPipeStream::TPipeStream(std::string Name, int Handle) : FName(std::move(Name)), FHandle(Handle) {}

int64_t TPipeStream::ReadHandle(uint8_t* Buffer, int64_t Count)
{
    int64_t done = 0;
    while (done < Count) {
        const ssize_t n = ::read(FHandle, Buffer + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            throw EStreamError(TMotivo::LetturaImpossibile, FName, TestoErrno(e));
        }
        if (n == 0)
            break;
        done += n;
    }
    if (FKeep && FTaken < HeadLimit) {
        const int64_t kept = std::min(done, HeadLimit - FTaken);
        FHead.insert(FHead.end(), Buffer, Buffer + kept);
    }
    FTaken += done;
    return done;
}

int64_t TPipeStream::Read(void* Buffer, int64_t Count)
{
    auto* out = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    if (Count > 0 && FPos < FTaken) {
        // Behind what was taken: only what was kept can be read again.
        const int64_t headEnd = FHeadAt + static_cast<int64_t>(FHead.size());
        if (FPos < FHeadAt || FPos >= headEnd)
            throw EStreamError(TMotivo::FlussoNonRiavvolgibile, FName);
        done = std::min(Count, headEnd - FPos);
        std::memcpy(out, FHead.data() + (FPos - FHeadAt), static_cast<size_t>(done));
        FPos += done;
        if (done < Count && FPos < FTaken)
            throw EStreamError(TMotivo::FlussoNonRiavvolgibile, FName);
    }
    // Bytes skipped by a seek ahead are read and dropped (and kept, while
    // the start is kept).
    uint8_t skip[4096];
    while (done < Count && FTaken < FPos) {
        if (ReadHandle(skip, std::min<int64_t>(FPos - FTaken, sizeof skip)) == 0)
            return done;
    }
    if (done < Count) {
        const int64_t n = ReadHandle(out + done, Count - done);
        done += n;
        FPos += n;
    }
    if (!FKeep && !FHead.empty() && FPos >= FHeadAt + static_cast<int64_t>(FHead.size())) {
        FHead.clear();
        FHead.shrink_to_fit();
        FHeadAt = FTaken;
    }
    return done;
}

int64_t TPipeStream::Write(const void*, int64_t)
{
    throw EStreamError(TMotivo::ScritturaImpossibile, FName, "è in sola lettura");
}

int64_t TPipeStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    if (Origin == TSeekOrigin::soEnd)
        throw EStreamError(TMotivo::FlussoNonRiavvolgibile, FName);
    const int64_t to = Origin == TSeekOrigin::soBeginning ? Offset : FPos + Offset;
    if (to < 0)
        throw EStreamError(TMotivo::FlussoNonRiavvolgibile, FName);
    FPos = to;
    return FPos;
}

void TPipeStream::SetSize(int64_t)
{
    throw EStreamError(TMotivo::ScritturaImpossibile, FName, "è in sola lettura");
}

void TPipeStream::Release()
{
    FKeep = false;
}

TPipeStream& StandardInput()
{
    static TPipeStream input("-", STDIN_FILENO);
    return input;
}

void ReleasePipeHead(TStream* S)
{
    if (auto* pipe = dynamic_cast<TPipeStream*>(S))
        pipe->Release();
}

} // namespace velmar
