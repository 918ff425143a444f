#include "platform/Classes.h"

#include "platform/TempFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

Exception::Exception(const std::string& Message) : std::runtime_error(Message), FCausa(Message) {}

Exception::Exception(TMotivo Motivo, const std::string& File, const std::string& Dettaglio)
    : std::runtime_error(File.empty() ? TestoMotivo(Motivo, Dettaglio)
                                      : "\"" + File + "\": " + TestoMotivo(Motivo, Dettaglio)),
      FMotivo(Motivo), FFile(File), FCausa(TestoMotivo(Motivo, Dettaglio))
{
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {}

TComponent::~TComponent()
{
    // Last created first, so an output goes before the inputs it pulls from.
    while (!FComponents.empty()) {
        std::unique_ptr<TComponent> last = std::move(FComponents.back());
        FComponents.pop_back();
        NotifyAll(last.get(), TOperation::opRemove);
        last.reset();
    }
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> AComponent)
{
    TComponent* raw = AComponent.get();
    FComponents.push_back(std::move(AComponent));
    NotifyAll(raw, TOperation::opInsert);
}

void TComponent::DestroyComponent(TComponent* AComponent)
{
    auto it = std::find_if(FComponents.begin(), FComponents.end(),
                           [&](const auto& c) { return c.get() == AComponent; });
    if (it == FComponents.end())
        return;
    std::unique_ptr<TComponent> doomed = std::move(*it);
    FComponents.erase(it);
    NotifyAll(doomed.get(), TOperation::opRemove);
}

void TComponent::NotifyAll(TComponent* AComponent, TOperation Operation)
{
    // A refusal here (a busy output losing its input) cannot stop the removal;
    // it must not escape a destructor either.
    try {
        Notification(AComponent, Operation);
    } catch (const std::exception&) {
    }
    for (auto& c : FComponents) {
        try {
            c->Notification(AComponent, Operation);
        } catch (const std::exception&) {
        }
    }
}

void TComponent::Notification(TComponent*, TOperation) {}

TComponent* TComponent::FindComponent(const std::string& AName) const
{
    for (auto& c : FComponents)
        if (c->Name() == AName)
            return c.get();
    return nullptr;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    if (Count > 0 && Read(Buffer, Count) != Count)
        throw EStreamError(TMotivo::FineInattesa, {});
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    if (Count > 0 && Write(Buffer, Count) != Count)
        throw EStreamError(TMotivo::ScritturaImpossibile, {}, "scrittura incompleta");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, 1 << 16)));
    int64_t left = Count;
    while (left > 0) {
        int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
        Source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return Count;
}

namespace {
// The file's error as errno tells it, read before anything else changes errno.
EStreamError ErrnoError(const std::string& FileName)
{
    const int e = errno;
    return EStreamError(MotivoErrno(e), FileName, std::to_string(e));
}
} // namespace

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName)
{
    int flags = O_CLOEXEC;
    switch (Mode) {
    case TFileMode::fmOpenRead: flags |= O_RDONLY; break;
    case TFileMode::fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case TFileMode::fmOpenReadWrite: flags |= O_RDWR; break;
    }
    do {
        FHandle = ::open(FileName.c_str(), flags, 0666);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0 && Mode == TFileMode::fmCreate && errno == ENOENT)
        throw EStreamError(TMotivo::CartellaInesistente, FileName);
    if (FHandle < 0)
        throw ErrnoError(FileName);
    struct stat st {};
    if (Mode != TFileMode::fmCreate && ::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        throw EStreamError(TMotivo::ECartella, FileName);
    }
}

std::unique_ptr<TFileStream> TFileStream::CreateTemporaryFor(const std::string& Target)
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{(uint64_t(std::random_device{}()) << 32) ^ uint64_t(::getpid())};
    std::uniform_int_distribution<size_t> pick(0, sizeof Letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string letters;
        for (int k = 0; k < 6; ++k)
            letters += Letters[pick(random)];
        const std::string candidate = TemporaryNameFor(Target, letters);
        int handle;
        do {
            handle = ::open(candidate.c_str(), O_CLOEXEC | O_RDWR | O_CREAT | O_EXCL, 0666);
        } while (handle < 0 && errno == EINTR);
        if (handle >= 0) {
            if (LockTemporary(handle))
                return std::make_unique<TFileStream>(candidate, handle);
            ::close(handle); // swept away before it was marked: draw again
            continue;
        }
        if (errno == EEXIST)
            continue; // taken by another writer: draw again
        // The user knows the folder by Target's name, not by ours.
        if (errno == ENOENT)
            throw EStreamError(TMotivo::CartellaInesistente, Target);
        throw ErrnoError(Target);
    }
    errno = EEXIST;
    throw ErrnoError(Target);
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count)
{
    auto* p = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ErrnoError(FFileName);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count)
{
    auto* p = static_cast<const uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ErrnoError(FFileName);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
               : Origin == TSeekOrigin::soCurrent   ? SEEK_CUR
                                                    : SEEK_END;
    off_t r = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
    if (r < 0)
        throw ErrnoError(FFileName);
    return r;
}

int64_t TFileStream::Size()
{
    struct stat st {};
    if (::fstat(FHandle, &st) != 0)
        throw ErrnoError(FFileName);
    return st.st_size;
}

void TFileStream::SetSize(int64_t NewSize)
{
    if (::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
        throw ErrnoError(FFileName);
}

void TFileStream::Flush()
{
    if (::fsync(FHandle) != 0)
        throw ErrnoError(FFileName);
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count)
{
    int64_t avail = Size() - FPosition;
    int64_t n = std::max<int64_t>(0, std::min(Count, avail));
    if (n > 0)
        std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0)
        return 0;
    if (FPosition + Count > Size())
        FData.resize(static_cast<size_t>(FPosition + Count));
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition += Count;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                 : Origin == TSeekOrigin::soCurrent   ? FPosition
                                                      : Size();
    FPosition = std::max<int64_t>(0, base + Offset);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    FData.resize(static_cast<size_t>(std::max<int64_t>(0, NewSize)));
    FPosition = std::min(FPosition, Size());
}

void TMemoryStream::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

} // namespace velmar
