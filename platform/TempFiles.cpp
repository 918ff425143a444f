#include "platform/TempFiles.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {

constexpr size_t NameMax = 255;
constexpr size_t LetterCount = 6;

bool IsLetter(char C)
{
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9');
}

int Flock(int Handle, int Operation)
{
    int r;
    do {
        r = ::flock(Handle, Operation);
    } while (r != 0 && errno == EINTR);
    return r;
}

// A stale file is empty or an Ogg stream: what our writers put there.
bool LooksOurs(int Handle, const struct stat& St)
{
    if (St.st_size == 0)
        return true;
    char head[4];
    return ::pread(Handle, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, "OggS", 4) == 0;
}

void RemoveIfStale(int Folder, const char* Name)
{
    const int h = ::openat(Folder, Name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (h < 0)
        return;
    struct stat st {}, now {};
    // Unlocked, ours, and still the file of that name when it goes.
    if (::fstat(h, &st) == 0 && S_ISREG(st.st_mode) && Flock(h, LOCK_EX | LOCK_NB) == 0 && LooksOurs(h, st) &&
        ::fstatat(Folder, Name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == st.st_ino &&
        now.st_dev == st.st_dev)
        ::unlinkat(Folder, Name, 0);
    ::close(h);
}

} // namespace

std::string TemporaryNameFor(const std::string& Target, const std::string& Letters)
{
    const auto slash = Target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : Target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? Target : Target.substr(slash + 1);
    // A temporary file's own rewrite is named after the same output.
    if (IsTemporaryName(name))
        name = name.substr(1, name.size() - LetterCount - 2);
    const size_t room = NameMax - 2 - LetterCount; // the dot before, the dot and letters after
    if (name.size() > room) {
        // Shortened in the middle of the stem: the extension tells what it is.
        const auto dot = name.rfind('.');
        const std::string ext = dot == std::string::npos || name.size() - dot > 16 ? std::string() : name.substr(dot);
        name = name.substr(0, room - ext.size()) + ext;
    }
    return folder + "." + name + "." + Letters;
}

bool IsTemporaryName(const std::string& Name)
{
    const size_t n = Name.size();
    if (n < 1 + 1 + 1 + LetterCount || Name[0] != '.' || Name[n - LetterCount - 1] != '.')
        return false;
    for (size_t k = n - LetterCount; k < n; ++k)
        if (!IsLetter(Name[k]))
            return false;
    // ".NAME.ogg.XXXXXX": only outputs are written through temporaries.
    const std::string stem = Name.substr(1, n - LetterCount - 2);
    return stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".ogg") == 0;
}

bool LockTemporary(int Handle)
{
    if (Flock(Handle, LOCK_SH) != 0)
        return true; // a file system without locks: nothing can sweep it either
    struct stat st {};
    return ::fstat(Handle, &st) == 0 && st.st_nlink > 0;
}

TTemporaryHold::TTemporaryHold(int WriterHandle) : FHandle(::fcntl(WriterHandle, F_DUPFD_CLOEXEC, 0)) {}

TTemporaryHold::~TTemporaryHold()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

void RemoveStaleTemporaries(const std::string& Folder)
{
    const int fd = ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* e = ::readdir(dir))
        if ((e->d_type == DT_REG || e->d_type == DT_UNKNOWN) && IsTemporaryName(e->d_name))
            RemoveIfStale(fd, e->d_name);
    ::closedir(dir);
}

void RemoveStaleTemporariesOnce(const std::string& Folder)
{
    static std::mutex lock;
    static std::set<std::string> swept;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!swept.insert(Folder).second)
            return;
    }
    RemoveStaleTemporaries(Folder);
}

void SyncFolderOf(const std::string& FileName)
{
    const auto slash = FileName.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : FileName.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace velmar
