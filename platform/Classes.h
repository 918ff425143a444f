// The small run-time library the components are built on: the owned
// component tree, byte streams and string lists.
#pragma once

#include "platform/Motivi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmar {

// Base of every error the components raise.
//
// An error a user may read carries a reason of the table (platform/Motivi.h)
// and the file it concerns: what() is then the Italian sentence
// "\"File\": reason", Causa() the reason alone. An error made from a plain
// message (a caller's misuse) has TMotivo::Nessuno and the message as Causa.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& Message);
    Exception(TMotivo Motivo, const std::string& File, const std::string& Dettaglio = {});

    TMotivo Motivo() const { return FMotivo; }
    const std::string& File() const { return FFile; }
    const std::string& Causa() const { return FCausa; }

private:
    TMotivo FMotivo = TMotivo::Nessuno;
    std::string FFile;
    std::string FCausa;
};

// Raised by streams: a file that cannot be opened or created, a short write;
// the reason is the one errno gives.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

enum class TOperation { opInsert, opRemove };

class TComponent;
using TNotifyEvent = std::function<void(TComponent* Sender)>;

// A component has an owner that destroys it, a name, and is told through
// Notification when a sibling it may refer to goes away.
//
// Lifecycle: create owned components with Create<T>(owner, ...); the owner
// keeps them and destroys them, last created first, in its own destructor.
// A component without an owner is held by whoever made it (unique_ptr).
// Thread: components are created and destroyed on one thread.
class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    template <class T, class... Args>
    static T* Create(TComponent* AOwner, Args&&... args)
    {
        auto made = std::make_unique<T>(AOwner, std::forward<Args>(args)...);
        T* raw = made.get();
        if (AOwner)
            AOwner->InsertComponent(std::move(made));
        else
            throw Exception("An owned component needs an owner");
        return raw;
    }

    // Destroys an owned component now (removal is notified to the others).
    void DestroyComponent(TComponent* AComponent);

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& AName) { FName = AName; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const { return FComponents.at(static_cast<size_t>(Index)).get(); }
    TComponent* FindComponent(const std::string& AName) const;

    // Called once all stored property values have been set.
    virtual void Loaded() {}
    // AComponent is being inserted into or removed from the owner's tree.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    void InsertComponent(std::unique_ptr<TComponent> AComponent);
    void NotifyAll(TComponent* AComponent, TOperation Operation);

    TComponent* FOwner;
    std::string FName;
    std::vector<std::unique_ptr<TComponent>> FComponents;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream with a position. Read and Write return the bytes moved;
// ReadBuffer and WriteBuffer raise EStreamError when fewer were moved.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    virtual int64_t Size() = 0;
    virtual void SetSize(int64_t NewSize) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    // Copies Count bytes (all from position 0 when Count is 0) from Source.
    int64_t CopyFrom(TStream& Source, int64_t Count);
};

enum class TFileMode { fmOpenRead, fmCreate, fmOpenReadWrite };

// A file opened for reading, or created anew (emptied) for writing.
// Raises EStreamError naming the file when it cannot be opened.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& FileName, TFileMode Mode);
    ~TFileStream() override;
    // A new hidden file in Target's folder, ".NAME.XXXXXX" with six random
    // characters (platform/TempFiles), created exclusively (O_EXCL: never a
    // file or link someone else put there) with the permissions fmCreate
    // gives, and marked as being written for as long as a handle to it is
    // open, for a writer that renames it over Target once complete.
    // Two writers of one Target never share a file. Raises EStreamError
    // naming Target when the folder refuses a new file.
    static std::unique_ptr<TFileStream> CreateTemporaryFor(const std::string& Target);
    // Takes over Handle, a file opened by the caller under FileName.
    TFileStream(const std::string& FileName, int Handle) : FFileName(FileName), FHandle(Handle) {}
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override;
    void SetSize(int64_t NewSize) override;
    // Forces written data to the disk; raises EStreamError when it fails.
    void Flush();
    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};

// A growable block of memory.
class TMemoryStream : public TStream {
public:
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t NewSize) override;
    void Clear();
    uint8_t* Memory() { return FData.data(); }
    const std::vector<uint8_t>& Data() const { return FData; }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// An ordered list of strings.
using TStringList = std::vector<std::string>;

} // namespace velmar
