// What a recorded XSR_CommandEx carried, in the terms of ORQExtClient's own
// frames: the command code by name, and for module messages the module,
// the target and, for remote calls of the service modules, the engine
// selector, the remote function and its argument bytes.
#pragma once

#include <cstdint>
#include <string>

#include "xsr/trace/trace.h"

namespace xsrtrace {

// "module message", "poll", ...; "command N" for a code of no name.
std::string command_name(uint16_t code);

struct Message {
    bool is_message = false;  // codes 2 and 3
    std::string module, target;
    bool remote = false;      // a remote call frame ("r!")
    bool has_selector = false;
    int32_t selector = 0;
    std::string function;
    std::string args;         // the frame's bytes after the function name
    std::string payload;      // a message that is no remote call
    bool malformed = false;   // names or frame head run past the bytes
};
Message read_message(const Record& r);

// Request and answer of codes 4 and 5 carry a ticket: two int32 values.
bool read_ticket(const std::string& bytes, int32_t* t0, int32_t* t1);

// The arguments of a remote call, read as the library writes them: a
// NUL-terminated text where the bytes up to a NUL are printable, otherwise a
// little-endian int32, and single bytes at the end. For display only.
std::string format_args(const std::string& args);

// Bytes for display: printable text in quotes, otherwise hex; at most max
// bytes shown, with the total length.
std::string show_bytes(const std::string& bytes, std::size_t max = 48);

}  // namespace xsrtrace
