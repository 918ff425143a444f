// The program's hidden temporary files: how they are named, the lock that
// marks one as being written, and the removal of those whose writer is gone.
//
// A temporary file is ".NAME.XXXXXX" beside its target NAME (six letters or
// digits; NAME shortened, its extension kept, when the whole would pass 255
// bytes). Its writer holds a shared flock on it from creation until it is
// renamed or removed; a file of that shape that nobody holds, and that is
// empty or starts as an Ogg stream, was left by a writer that is gone
// (crash, kill -9, power loss) and may be removed. Nothing else is touched.
#pragma once

#include <memory>
#include <string>

namespace velmar {

// The temporary name for Target with Letters (six characters) drawn.
std::string TemporaryNameFor(const std::string& Target, const std::string& Letters);

// Whether Name (a file name, no folder) has the shape of one of our
// temporary files.
bool IsTemporaryName(const std::string& Name);

// Takes the writer's shared lock on a freshly created temporary file. False
// when the file was removed before the lock was taken (a sweep saw it
// unlocked): the caller draws another name. Never blocks for long.
bool LockTemporary(int Handle);

// Keeps a temporary file marked as being written after its stream has been
// closed (a finished part that waits for its name): a duplicate of the
// writer's handle, so the writer's lock stays without a moment's gap.
// Lifecycle: the mark goes with the object. Thread: any.
class TTemporaryHold {
public:
    explicit TTemporaryHold(int WriterHandle);
    ~TTemporaryHold();
    TTemporaryHold(const TTemporaryHold&) = delete;
    TTemporaryHold& operator=(const TTemporaryHold&) = delete;

private:
    int FHandle = -1;
};

// Removes from Folder every temporary file whose writer is gone. Errors are
// ignored: a file that cannot be looked at is left alone. Any thread.
void RemoveStaleTemporaries(const std::string& Folder);

// RemoveStaleTemporaries, once per folder for the life of the process:
// a batch writes many files into one folder.
void RemoveStaleTemporariesOnce(const std::string& Folder);

// Puts FileName's folder entry on disk (after a rename into it).
void SyncFolderOf(const std::string& FileName);

} // namespace velmar
