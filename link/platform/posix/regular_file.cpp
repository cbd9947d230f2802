#include "link/platform/regular_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kt::platform {

namespace {

FileResult failure(FileProblem problem, const std::string& head, std::string reason) {
    return {problem, head + reason, std::move(reason)};
}

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

const char* kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string head(const char* doing, std::string_view what, const std::string& path) {
    return std::string("Cannot ") + doing + " the " + std::string(what) + " " + quoted(path) + ": ";
}

// A failed open or stat in the words the operator needs.
FileResult openFailure(int error, const std::string& path, std::string_view what, const char* doing) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return failure(FileProblem::Missing, head(doing, what, path), "it does not exist");
    case EACCES:
    case EPERM:
        return failure(FileProblem::NoPermission, head(doing, what, path), "permission denied");
    default:
        return failure(FileProblem::Failed, head(doing, what, path), std::strerror(error));
    }
}

FileResult typeFailure(const struct stat& st, const std::string& path, std::string_view what,
                       const char* doing) {
    if (S_ISDIR(st.st_mode)) return failure(FileProblem::Folder, head(doing, what, path), "it is a folder");
    return failure(FileProblem::NotRegular, head(doing, what, path),
                   std::string("it is ") + kindOf(st.st_mode) + ", not a file");
}

FileResult tooLarge(const std::string& path, std::string_view what, uint64_t size, uint64_t maxBytes) {
    return failure(FileProblem::TooLarge, head("open", what, path),
                   "it is too large (" + std::to_string(size) + " bytes; at most " +
                       std::to_string(maxBytes) + ")");
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports the close's own error (a late write error on some file systems).
    int close() {
        int r = ::close(fd_);
        fd_ = -1;
        return r == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// While it lives, SIGXFSZ does not end the process: a write past the file-size limit fails with
// EFBIG instead, and the signal the kernel raised for it is taken off this thread afterwards.
class FileSizeSignalGuard {
public:
    FileSizeSignalGuard() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~FileSizeSignalGuard() {
        const timespec zero{};
        while (sigtimedwait(&set_, nullptr, &zero) == SIGXFSZ) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    FileSizeSignalGuard(const FileSizeSignalGuard&) = delete;
    FileSizeSignalGuard& operator=(const FileSizeSignalGuard&) = delete;

private:
    sigset_t set_, old_;
};

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    char text[40];
    std::snprintf(text, sizeof text, ".%ld-%x%04x.part", static_cast<long>(::getpid()), seed & 0xFFFFu,
                  counter.fetch_add(1) & 0xFFFFu);
    return text;
}

std::string writeFailureText(int error) {
    if (error == EFBIG) return "the file would exceed the size this program may write (file-size limit)";
    return std::strerror(error);
}

// Writes all of bytes, through interruptions and short writes; 0, or the errno that stopped it.
int writeAll(int fd, std::string_view bytes) {
    FileSizeSignalGuard noSignal;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Opens a regular file for reading, blocking reads; st is its fstat. The stat comes first, so
// that a FIFO or a device is never opened at all; O_NONBLOCK and the fstat refuse one swapped in
// since the stat instead of waiting on it.
FileResult openForReading(const std::string& path, std::string_view what, uint64_t maxBytes, Fd& fd,
                          struct stat& st) {
    if (::stat(path.c_str(), &st) != 0) return openFailure(errno, path, what, "open");
    if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "open");
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return tooLarge(path, what, static_cast<uint64_t>(st.st_size), maxBytes);
    fd.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return openFailure(errno, path, what, "open");
    if (::fstat(fd.get(), &st) != 0) return openFailure(errno, path, what, "read");
    if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "open");
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return tooLarge(path, what, static_cast<uint64_t>(st.st_size), maxBytes);
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return {};
}

} // namespace

FileResult readRegularFile(const std::string& path, uint64_t maxBytes, std::string& bytes,
                           std::string_view what) {
    bytes.clear();
    struct stat st {};
    Fd fd(-1);
    if (FileResult opened = openForReading(path, what, maxBytes, fd, st); !opened.ok()) return opened;

    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            bytes.clear();
            return failure(FileProblem::Failed, head("read", what, path), std::strerror(error));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > maxBytes) { // it grew while being read
            uint64_t size = bytes.size();
            bytes.clear();
            return tooLarge(path, what, size, maxBytes);
        }
    }
    return {};
}

FileResult readRegularFileInPieces(const std::string& path,
                                   const std::function<bool(std::string_view)>& piece,
                                   std::string_view what) {
    struct stat st {};
    Fd fd(-1);
    if (FileResult opened = openForReading(path, what, UINT64_MAX, fd, st); !opened.ok()) return opened;

    std::string buffer(size_t(1) << 20, '\0');
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return failure(FileProblem::Failed, head("read", what, path), std::strerror(errno));
        }
        if (n == 0) break;
        if (!piece(std::string_view(buffer.data(), static_cast<size_t>(n)))) break;
    }
    return {};
}

FileResult appendRegularFile(const std::string& path, std::string_view whenNew, std::string_view whenOld,
                             std::string_view what, bool* wasNew) {
    // A device is never opened (opening a terminal or a tape has effects of its own).
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "write");
    } else if (errno != ENOENT) {
        return openFailure(errno, path, what, "write");
    }
    // O_NONBLOCK: a FIFO put there since the stat fails to open (no reader) instead of blocking.
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENXIO)
            return failure(FileProblem::NotRegular, head("write", what, path),
                           "it is a named pipe, not a file");
        if (error == EISDIR) return failure(FileProblem::Folder, head("write", what, path), "it is a folder");
        if (error == ENOENT || error == ENOTDIR)
            return failure(FileProblem::Missing, head("write", what, path), "its folder does not exist");
        return openFailure(error, path, what, "write");
    }
    if (::fstat(fd.get(), &st) != 0) return openFailure(errno, path, what, "write");
    if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "write");
    const off_t before = st.st_size;
    const std::string_view bytes = before == 0 ? whenNew : whenOld;
    if (wasNew) *wasNew = before == 0;

    // Put the file back as it was: a line written in part would run into the next one.
    auto undo = [&](int error) {
        if (::ftruncate(fd.get(), before) != 0) (void)::truncate(path.c_str(), before);
        return failure(error == EACCES || error == EPERM ? FileProblem::NoPermission : FileProblem::Failed,
                       head("write", what, path), writeFailureText(error));
    };
    if (int error = writeAll(fd.get(), bytes)) return undo(error);
    if (int error = fd.close()) {
        // The close found a late write error (a network file system): the bytes may be gone.
        (void)::truncate(path.c_str(), before);
        return failure(FileProblem::Failed, head("write", what, path), writeFailureText(error));
    }
    return {};
}

FileResult checkRegularFile(const std::string& path, bool mayBeMissing, std::string_view what) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int error = errno;
        if (error == ENOENT && mayBeMissing) return {};
        return openFailure(error, path, what, "open");
    }
    if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "open");
    return {};
}

FileResult replaceRegularFile(const std::string& path, std::string_view bytes, std::string_view what) {
    // A link is followed to the file it names, which is the file the operator means to replace.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved))
            return failure(FileProblem::Failed, head("write", what, path),
                           "it is a symbolic link to " + (errno == ENOENT
                                                              ? "a file that does not exist"
                                                              : std::string(std::strerror(errno))));
        target = resolved;
    }
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) return typeFailure(st, path, what, "write");
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return failure(FileProblem::ReadOnly, head("write", what, path), "it is read-only");
        if (::access(target.c_str(), W_OK) != 0)
            return failure(FileProblem::NoPermission, head("write", what, path), "permission denied");
    } else if (errno != ENOENT) {
        return openFailure(errno, path, what, "write");
    }

    const std::string folder = folderOf(target);
    std::string temp;
    int fdNumber = -1;
    for (int attempt = 0; attempt < 100 && fdNumber < 0; ++attempt) {
        temp = target + uniqueSuffix();
        // O_EXCL | O_NOFOLLOW: a file or a link someone placed under that name is never written.
        fdNumber = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                          exists ? 0600 : 0666);
        if (fdNumber < 0 && errno != EEXIST) {
            int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                return failure(FileProblem::Missing, head("write", what, path), "its folder does not exist");
            return openFailure(error, path, what, "write");
        }
    }
    if (fdNumber < 0)
        return failure(FileProblem::Failed, head("write", what, path), "no free name for its temporary file");
    Fd fd(fdNumber);
    auto abandon = [&](int error) {
        ::unlink(temp.c_str());
        return failure(error == EACCES || error == EPERM ? FileProblem::NoPermission : FileProblem::Failed,
                       head("write", what, path), writeFailureText(error));
    };

    if (int error = writeAll(fd.get(), bytes)) {
        fd.close();
        return abandon(error);
    }
    if (exists) {
        // The replacement keeps what the old file had; a group or owner this user may not give
        // away stays the user's own, which is all the system allows.
        if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0)
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), st.st_gid);
        if (::fchmod(fd.get(), st.st_mode & 07777) != 0) {
            int error = errno;
            fd.close();
            return abandon(error);
        }
    }
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        int error = errno;
        fd.close();
        return abandon(error);
    }
    if (int error = fd.close()) return abandon(error);
    if (::rename(temp.c_str(), target.c_str()) != 0) return abandon(errno);
    // The new name on disk too; not every file system can sync a folder, which costs nothing
    // here but durability after a power cut.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace kt::platform
