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

enum class Parse { Ok, NotTrace, OtherVersion, Malformed };
Parse decode(const std::string& line, Record* out);

struct File {
    std::vector<Record> records;
    int malformed = 0;      // lines that are no complete record of this version
    bool torn_tail = false; // the last line has no newline (cut by a crash)
    // Each line that is no record, by its number (from 1), and why.
    struct Damage {
        std::size_t line;
        std::string why;
    };
    std::vector<Damage> damaged;
    // Record numbers missing within a process: records that were never
    // written (the recorder could not write them) or lines that are damaged.
    struct Gap {
        uint64_t pid, first, last;
    };
    std::vector<Gap> gaps;
    std::size_t lines = 0;  // lines read, the torn one included
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
