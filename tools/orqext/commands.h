// The command families of orqext; each adds its commands to the table.
#pragma once

#include <string>
#include <vector>

#include "tools/orqext/cli.h"

namespace orqext {

void add_admin_commands(std::vector<CommandSpec>& t);    // status, module ..., codes
void add_message_commands(std::vector<CommandSpec>& t);  // send, sql ...
void add_cluster_commands(std::vector<CommandSpec>& t);  // cluster ...
void add_text_commands(std::vector<CommandSpec>& t);     // text ...
void add_demo_command(std::vector<CommandSpec>& t);      // demo
void add_trace_commands(std::vector<CommandSpec>& t);    // trace ...
void add_session_commands(std::vector<CommandSpec>& t);  // connect

// A server answer read into a buffer of `capacity` bytes: the bytes, and the
// answer length the call reported (which may exceed the bytes kept).
struct Answer {
    std::string bytes;
    int32_t length = 0;
};

// Lines of a text answer ('\n'-separated; a trailing NUL and empty lines
// dropped).
std::vector<std::string> lines_of(const std::string& text);

}  // namespace orqext
