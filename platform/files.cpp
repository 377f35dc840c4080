#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orq::platform {

struct FileOpener {
#if defined(_WIN32)
    static void set(File* f, HANDLE h) {
        f->close();
        f->handle_ = h;
    }
    static HANDLE get(const File& f) { return static_cast<HANDLE>(f.handle_); }
#else
    static void set(File* f, int fd) {
        f->close();
        f->fd_ = fd;
    }
    static int get(const File& f) { return f.fd_; }
#endif
};

namespace {

bool fail(FileProblem* p, std::string why, bool missing = false) {
    p->missing = missing;
    p->why = std::move(why);
    return false;
}

}  // namespace

bool read_whole_file(const std::string& path, ReadRule rule, std::size_t max, std::string* text,
                     FileProblem* problem, bool* cut) {
    File f;
    if (!open_for_reading(path, rule, &f, problem)) return false;
    text->clear();
    if (cut) *cut = false;
    char buf[4096];
    for (;;) {
        std::string why;
        const long long n = f.read(buf, sizeof buf, &why);
        if (n < 0) return fail(problem, "it cannot be read: " + why);
        if (n == 0) break;
        const std::size_t room = max - text->size();
        text->append(buf, static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room);
        if (text->size() >= max) {
            if (cut) *cut = true;
            break;
        }
    }
    return true;
}

bool LineReader::fill() {
    if (eof_) return false;
    if (at_ > 0) {
        buf_.erase(0, at_);
        at_ = 0;
    }
    const std::size_t old = buf_.size();
    buf_.resize(old + 65536);
    const long long n = f_->read(&buf_[old], 65536, &error_);
    buf_.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n <= 0) eof_ = true;
    return n > 0;
}

bool LineReader::next(std::string* line, bool* torn, bool* long_line) {
    *torn = false;
    *long_line = false;
    bool skipping = false;  // past max_line_ of a long line: looking for its end
    line->clear();
    for (;;) {
        const std::size_t nl = buf_.find('\n', at_);
        const std::size_t end = nl == std::string::npos ? buf_.size() : nl;
        if (!skipping) {
            const std::size_t room = max_line_ - line->size();
            const std::size_t take = end - at_ < room ? end - at_ : room;
            line->append(buf_, at_, take);
            if (take < end - at_) {
                *long_line = true;
                skipping = true;
            }
        }
        if (nl != std::string::npos) {
            at_ = nl + 1;
            return true;
        }
        at_ = buf_.size();
        if (!fill()) {
            if (line->empty() && !*long_line) return false;
            *torn = true;
            return true;
        }
    }
}

#if defined(_WIN32)

File::File(File&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        handle_ = o.handle_;
        o.handle_ = nullptr;
    }
    return *this;
}
bool File::is_open() const { return handle_ != nullptr; }
void File::close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}
long long File::read(void* buf, std::size_t n, std::string* why) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), buf, static_cast<DWORD>(n), &got, nullptr)) {
        if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) return 0;
        if (why) *why = "error " + std::to_string(GetLastError());
        return -1;
    }
    return got;
}
long long File::write(const void* buf, std::size_t n, std::string* why) {
    DWORD done = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), buf, static_cast<DWORD>(n), &done, nullptr))
        *why = "error " + std::to_string(GetLastError());
    else if (done != n)
        *why = "written in part";
    return done;
}
long long File::size() const {
    LARGE_INTEGER s{};
    return GetFileSizeEx(static_cast<HANDLE>(handle_), &s) ? s.QuadPart : -1;
}
// A handle opened to append cannot cut the file (no write access to its data).
bool File::truncate(long long size) {
    LARGE_INTEGER at{};
    at.QuadPart = size;
    return SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) &&
           SetEndOfFile(static_cast<HANDLE>(handle_));
}
bool File::is_at(const std::string& path) const {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(h, &a) &&
                      GetFileInformationByHandle(static_cast<HANDLE>(handle_), &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(h);
    return same;
}

namespace {

bool is_missing(DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }

// Why an open file is not used: a device or pipe, a folder, a link; for
// writing also a file with more than one name.
std::string refusal(HANDLE file, bool no_link, bool one_name) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return "it is not a regular file (a device or pipe)";
    if (no_link && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "it is a reparse point (a link)";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder, not a regular file";
    if (one_name && info.nNumberOfLinks > 1) return "it has more than one name (a hard link)";
    return std::string();
}

// The handle an open gave, examined: kept in *f when it may be used.
bool take(HANDLE h, bool no_link, bool one_name, File* f, FileProblem* problem) {
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        return fail(problem, "it cannot be opened (error " + std::to_string(e) + ")", is_missing(e));
    }
    const std::string why = refusal(h, no_link, one_name);
    if (!why.empty()) {
        CloseHandle(h);
        return fail(problem, why);
    }
    FileOpener::set(f, h);
    return true;
}

// Full control for the user who runs the program, nobody else, nothing
// inherited; null when it cannot be made (the folder's rights apply).
void* owner_only_descriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    unsigned char buf[256];
    DWORD n = 0;
    const bool ok = GetTokenInformation(token, TokenUser, buf, sizeof buf, &n);
    CloseHandle(token);
    char* sid = nullptr;
    if (!ok || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &sid)) return nullptr;
    const std::string sddl = std::string("D:P(A;;FA;;;") + sid + ")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    return sd;
}

}  // namespace

bool open_for_reading(const std::string& path, ReadRule rule, File* f, FileProblem* problem) {
    const bool priv = rule == ReadRule::Private;
    const DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return fail(problem, is_missing(e) ? "it does not exist" : "it cannot be examined (error " + std::to_string(e) + ")",
                    is_missing(e));
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) return fail(problem, "it is a folder, not a regular file");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | (priv ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    return take(h, priv, false, f, problem);
}

bool open_for_writing(const std::string& path, WriteRule rule, File* f, FileProblem* problem) {
    // The link itself is opened, never what it points to; a new file gets a
    // list of rights with its owner alone.
    SECURITY_ATTRIBUTES sa{sizeof sa, owner_only_descriptor(), FALSE};
    const DWORD access = rule == WriteRule::Append ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES
                                                   : GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           sa.lpSecurityDescriptor ? &sa : nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (sa.lpSecurityDescriptor) LocalFree(sa.lpSecurityDescriptor);
    if (!take(h, true, true, f, problem)) return false;
    if (rule == WriteRule::Replace && !f->truncate(0)) {
        f->close();
        return fail(problem, "it cannot be emptied (error " + std::to_string(GetLastError()) + ")");
    }
    return true;
}

#else

File::File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}
bool File::is_open() const { return fd_ >= 0; }
void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
long long File::read(void* buf, std::size_t n, std::string* why) {
    for (;;) {
        const ssize_t got = ::read(fd_, buf, n);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && why) *why = std::strerror(errno);
        return got;
    }
}
long long File::write(const void* buf, std::size_t n, std::string* why) {
    const ssize_t done = ::write(fd_, buf, n);
    if (done < 0) {
        *why = std::strerror(errno);
        return 0;
    }
    if (static_cast<std::size_t>(done) != n) *why = "written in part";
    return done;
}
long long File::size() const {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}
bool File::truncate(long long size) { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }
bool File::is_at(const std::string& path) const {
    struct stat a {}, b {};
    return lstat(path.c_str(), &a) == 0 && fstat(fd_, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {

// "it is a FIFO, not a regular file" and the like; empty for a regular file.
std::string kind_refusal(mode_t mode) {
    if (S_ISREG(mode)) return std::string();
    if (S_ISLNK(mode)) return "it is a symbolic link";
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISDIR(mode)  ? "a directory"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "of an unknown kind";
    return std::string("it is ") + kind + ", not a regular file";
}

// Ours and private: what a file must be to hold what others may not see.
std::string private_refusal(const struct stat& st, const std::string& path) {
    if (st.st_uid != geteuid()) return "it belongs to another user";
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string("mode ") + mode + " lets group or others at it; it must be 0600 (chmod 600 " + path + ")";
    }
    return std::string();
}

std::string open_error(int e) {
    switch (e) {
        case ELOOP: return "it is a symbolic link";
        case ENXIO: return "it is a FIFO, not a regular file";
        case EISDIR: return "it is a directory, not a regular file";
        default: return std::strerror(e);
    }
}

// Examines an opened descriptor; on success it is made blocking again.
bool check_opened(int fd, const std::string& path, bool priv, bool one_name, FileProblem* problem) {
    struct stat st {};
    std::string why;
    if (fstat(fd, &st) != 0)
        why = std::string("it cannot be examined: ") + std::strerror(errno);
    else if (!(why = kind_refusal(st.st_mode)).empty()) {
    } else if (priv && !(why = private_refusal(st, path)).empty()) {
    } else if (one_name && st.st_nlink > 1)
        why = "it has more than one name (a hard link)";
    if (why.empty()) {
        const int fl = fcntl(fd, F_GETFL);
        if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) why = std::strerror(errno);
    }
    if (why.empty()) return true;
    ::close(fd);
    return fail(problem, why);
}

}  // namespace

bool open_for_reading(const std::string& path, ReadRule rule, File* f, FileProblem* problem) {
    const bool priv = rule == ReadRule::Private;
    // Examined before it is opened: opening a device can do something.
    struct stat st {};
    if ((priv ? lstat(path.c_str(), &st) : stat(path.c_str(), &st)) != 0)
        return fail(problem, std::strerror(errno), errno == ENOENT);
    std::string why = kind_refusal(st.st_mode);
    if (!why.empty()) return fail(problem, why);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (priv ? O_NOFOLLOW : 0));
    if (fd < 0) return fail(problem, open_error(errno), errno == ENOENT);
    if (!check_opened(fd, path, priv, false, problem)) return false;
    FileOpener::set(f, fd);
    return true;
}

bool open_for_writing(const std::string& path, WriteRule rule, File* f, FileProblem* problem) {
    const int append = rule == WriteRule::Append ? O_APPEND : 0;
    // A new file is made with O_EXCL and set to 0600 whatever the umask; an
    // existing one is examined, opened without following a link and without
    // waiting for a reader of a FIFO, and examined again.
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | append, 0600);
        if (fd >= 0) {
            if (fchmod(fd, 0600) != 0) {
                const int e = errno;
                ::close(fd);
                return fail(problem, std::string("its mode cannot be set: ") + std::strerror(e));
            }
            FileOpener::set(f, fd);
            return true;
        }
        if (errno != EEXIST) return fail(problem, open_error(errno), errno == ENOENT);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            const std::string why = kind_refusal(st.st_mode);
            if (!why.empty()) return fail(problem, why);
        }
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | append);
        if (fd < 0 && errno != ENOENT) return fail(problem, open_error(errno));
        // ENOENT: removed in between; made anew.
    }
    if (fd < 0) return fail(problem, "it keeps disappearing while it is opened");
    if (!check_opened(fd, path, true, true, problem)) return false;
    if (rule == WriteRule::Replace && ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(problem, std::string("it cannot be emptied: ") + std::strerror(e));
    }
    FileOpener::set(f, fd);
    return true;
}

#endif

}  // namespace orq::platform
