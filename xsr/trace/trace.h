// Traces of XSRClient calls: the record of one call of the five XSR_
// functions, its one-line text form, and a reader for trace files.
//
// A trace file is a sequence of lines, one record each, appended with one
// write per record, so every record is complete on its own and a file cut
// short by a crash loses at most its last, unfinished line. Every line starts
// with the format tag and its version ("XT1"); the fields follow as key=value
// pairs separated by blanks: numbers in decimal, byte strings in lowercase
// hex, text percent-encoded. docs/trace.md describes every field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xsrtrace {

constexpr int kVersion = 1;
constexpr const char* kTag = "XT1";

enum class Fn { Open, Close, IsValid, Check, Command };
const char* fn_name(Fn fn);

struct Record {
    Fn fn = Fn::Command;
    uint64_t seq = 0;           // order of the call's end within its process
    uint64_t pid = 0;
    uint64_t thread = 0;
    int64_t start_us = 0;       // wall clock, microseconds since 1970
    int64_t duration_us = 0;
    int32_t handle = 0;         // Close, IsValid, Command; Open: the handle given back
    int32_t result = 0;

    // Open and Check.
    std::string server;
    int32_t port = 0;
    // Open: the login record's fields; the password only when asked for.
    std::string user, login_server, password;
    bool password_recorded = false;

    // Command: the arguments that vary, and what came back.
    int32_t magic = 0, timeout_hint = 0;
    bool answer_null = false;   // no answer buffer offered
    bool len_null = false;      // no length pointer
    int32_t capacity = 0;       // *answer_len on entry
    std::string header, body, body2;
    bool body2_null = false;
    int32_t answer_len = 0;     // *answer_len on return
    std::string answer;         // the bytes written to the answer buffer

    uint16_t code() const;      // the command code from the header
};

// The record as one line, with its newline.
std::string encode(const Record& r);

enum class Parse { Ok, NotTrace, OtherVersion, Malformed, BadTime };
Parse decode(const std::string& line, Record* out);

// Times a record may carry: microseconds from 1970 within years 1 to 9999
// either side, and a duration from zero to as long. A line with a time
// outside is damaged; any difference of two times fits in 64 bits.
constexpr int64_t kMaxTimeUs = INT64_C(253402300800000000);
// The longest line a reader takes: a command whose request and answer are
// both the largest frame (64 MiB each, twice that in hex), with room for the
// other fields. A longer line is damaged and skipped without being kept.
constexpr std::size_t kMaxLine = (std::size_t(256) << 20) + 4096;

// Reads a trace record by record in bounded memory: the line being read,
// the record made from it, one number per process (to find gaps; at most
// kMaxProcesses processes, later ones are not checked) and the first
// kKeptNotes damaged lines and gaps (the rest are counted). The trace at
// PATH is taken with the files the recorder rotated out of it, oldest first
// (PATH.N down to PATH.1, docs/trace.md), as one run of lines. Every file is
// opened under the reading rule of platform/files.h: a FIFO, a device or a
// directory is refused without being read.
class Reader {
public:
    static constexpr std::size_t kKeptNotes = 20;
    static constexpr std::size_t kMaxProcesses = 4096;
    struct Damage {
        std::string file;  // empty when the trace is one file
        std::size_t line;  // from 1, within the file
        std::string why;
    };
    struct Gap {
        uint64_t pid, first, last;
    };

    // `max_line`: the longest line taken (tests make it small).
    explicit Reader(std::size_t max_line = kMaxLine);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The files of the trace at `path`: the rotated ones that exist, oldest
    // first, then `path` itself.
    static std::vector<std::string> files_of(const std::string& path);
    // False with a message naming the file when one of them cannot be read.
    bool open(const std::string& path, std::string* error);
    // The next record; false at the end or when a file cannot be read on
    // (error() then says why).
    bool next(Record* r);
    const std::string& error() const { return error_; }

    const std::vector<std::string>& files() const { return files_; }
    uint64_t records() const { return records_; }
    const std::vector<Damage>& damaged() const { return damaged_; }
    uint64_t damaged_lines() const { return damaged_lines_; }
    bool torn_tail() const { return torn_tail_; }
    std::size_t lines_of_last_file() const { return line_; }
    const std::vector<Gap>& gaps() const { return gaps_; }
    uint64_t gap_count() const { return gap_count_; }
    uint64_t missing_records() const { return missing_; }
    bool processes_unchecked() const { return unchecked_; }
    // One line for each kept damaged line, the torn last line, each kept
    // gap, and counts of the rest, in that order.
    std::vector<std::string> damage_report() const;

private:
    struct State;
    bool open_file(std::size_t i);
    void damage(std::size_t line, std::string why);
    void check_number(const Record& r);
    std::vector<std::string> files_;
    std::size_t max_line_;
    std::size_t file_ = 0;
    std::size_t line_ = 0;
    State* state_;
    std::string error_;
    uint64_t records_ = 0, damaged_lines_ = 0, gap_count_ = 0, missing_ = 0;
    bool torn_tail_ = false, unchecked_ = false;
    std::vector<Damage> damaged_;
    std::vector<Gap> gaps_;
};

// A whole trace in memory, for the double's replay, which needs every
// record at once.
struct File {
    std::vector<Record> records;
    int malformed = 0;      // lines that are no complete record of this version
    bool torn_tail = false; // the last line has no newline (cut by a crash)
    std::vector<std::string> report;  // Reader::damage_report()
    uint64_t missing = 0;   // records missing from the processes' numbers
};
// One line of text for each damaged line, the torn last line and each gap,
// in that order; empty for a trace without damage.
std::vector<std::string> damage_report(const File& f);
// False with a message when the file cannot be read.
bool read_file(const std::string& path, File* out, std::string* error);

// Byte-string helpers shared by the trace tools.
std::string to_hex(const std::string& bytes);
bool from_hex(const std::string& hex, std::string* bytes);

}  // namespace xsrtrace
