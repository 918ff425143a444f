// Standard input, and any descriptor that is read once from start to end
// (a pipe, a socket, a terminal).
#pragma once

#include "platform/Classes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// A stream that only goes forward through its descriptor, but keeps what it
// read of the start, so that a reader can look at a header more than once
// before it reads the audio. Seeking is free: a read ahead of what was
// taken reads and drops the bytes in between; a read behind it is served
// from what was kept, and raises EStreamError (TMotivo::FlussoNonRiavvolgibile)
// where nothing was. Size is -1: the length is not known until the end.
// Memory: at most HeadLimit bytes are kept, and none once Release has been
// called and the reading has passed them.
// Thread: one thread at a time.
class TPipeStream : public TStream {
public:
    static constexpr int64_t HeadLimit = int64_t(16) << 20;

    // Reads Handle, which stays the caller's; Name is what errors name.
    TPipeStream(std::string Name, int Handle);

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override; // raises: read only
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override; // soEnd raises
    int64_t Size() override { return -1; }
    void SetSize(int64_t NewSize) override; // raises

    // The reader only goes forward from here: what is kept goes once the
    // reading has passed it, and nothing more is kept.
    void Release();
    const std::string& Name() const { return FName; }

private:
    int64_t ReadHandle(uint8_t* Buffer, int64_t Count);

    std::string FName;
    int FHandle;
    std::vector<uint8_t> FHead; // the bytes from FHeadAt on, as read
    int64_t FHeadAt = 0;
    bool FKeep = true;
    int64_t FTaken = 0; // bytes read from the descriptor
    int64_t FPos = 0;
};

// The process's standard input as one stream, made at the first call; it
// can be read through once in a process.
TPipeStream& StandardInput();

// Releases S's kept start when it is a TPipeStream (see Release).
void ReleasePipeHead(TStream* S);

} // namespace velmar
