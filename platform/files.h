// Files outside the build that the library and its tools read or write: the
// settings file, orqext's history and password file, traces and the
// recorder's output, xsr-sim's settings. Every one is opened here, under one
// rule for reading and one for writing, so that none of them can hang on a
// FIFO, read a device without end, or write through a link into a file that
// is not ours (docs/files.md).
//
// Reading: only a regular file is read. The file is opened without waiting
// (a FIFO without a writer, a device that would block) and examined before
// anything is read from it. A private file (a password file, the history)
// must also be reached without a symbolic link, belong to this user and give
// group and others no access.
//
// Writing: a new file is made with mode 0600 whatever the umask; an existing
// one must be reached without a symbolic link, be a regular file with one
// name (no hard link), belong to this user and give group and others no
// access. A FIFO is never waited for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orq::platform {

// A file opened by the functions below; closed with the object.
class File {
public:
    File() = default;
    ~File() { close(); }
    File(File&& o) noexcept;
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool is_open() const;
    // Up to n bytes; 0 at the end, -1 on an error (*why says which).
    long long read(void* buf, std::size_t n, std::string* why = nullptr);
    // Writes the n bytes in one call where the system allows (records of
    // several writers never mix within a line); the count written, less
    // than n on an error (*why says which).
    long long write(const void* buf, std::size_t n, std::string* why);
    // The file's size now; -1 when it cannot be told.
    long long size() const;
    // Cuts the file to `size` bytes; false where that is not possible.
    bool truncate(long long size);
    // True when `path` still names this file (it was not renamed or
    // replaced since it was opened).
    bool is_at(const std::string& path) const;
    void close();

private:
    friend struct FileOpener;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Why a file was not opened.
struct FileProblem {
    bool missing = false;  // there is no such file
    std::string why;       // e.g. "it is a FIFO, not a regular file"
};

enum class ReadRule {
    Any,      // a regular file, reached through links or not
    Private,  // also no link, ours, no access for group or others
};
enum class WriteRule {
    Append,   // appended to
    Replace,  // emptied once it has passed the checks
};

bool open_for_reading(const std::string& path, ReadRule rule, File* f, FileProblem* problem);
bool open_for_writing(const std::string& path, WriteRule rule, File* f, FileProblem* problem);

// Reads the whole file under `rule`, at most `max` bytes (*cut set when
// there was more). False when it cannot be opened or read.
bool read_whole_file(const std::string& path, ReadRule rule, std::size_t max, std::string* text,
                     FileProblem* problem, bool* cut = nullptr);

// Reads a file line by line in bounded memory: each line without its
// newline; a last line without a newline is returned with *torn set. A line
// longer than `max_line` is returned cut to that length with *long_line set
// (the rest of it is skipped).
class LineReader {
public:
    explicit LineReader(File* f, std::size_t max_line) : f_(f), max_line_(max_line) {}
    // False at the end of the file or on a read error (error() says which).
    bool next(std::string* line, bool* torn, bool* long_line);
    const std::string& error() const { return error_; }

private:
    bool fill();
    File* f_;
    std::size_t max_line_;
    std::string buf_;
    std::size_t at_ = 0;
    bool eof_ = false;
    std::string error_;
};

}  // namespace orq::platform
