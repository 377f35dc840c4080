// Runs the orqext program as a child process and collects its exit code,
// stdout and stderr. The wait is bounded: a run that takes longer is killed
// and reported with exit code -1. A sanitizer report on its stderr fails the
// calling test.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace e2ecli {

struct ToolRun {
    int exit_code = -1;  // the exit status; 128 + signal when killed by one
    std::string out, err;
};

ToolRun run_tool(const std::vector<std::string>& args, int max_ms = 60000);
// The same for another program (xsr-sim, the examples).
ToolRun run_program(const std::string& path, const std::vector<std::string>& args, int max_ms = 60000);

// The same with `input` (when not null) as standard input and the
// environment changed: "NAME=VALUE" sets a variable, "NAME" removes it.
ToolRun run_tool_with(const std::vector<std::string>& args, const std::string* input,
                      const std::vector<std::string>& env, int max_ms = 60000);
ToolRun run_program_with(const std::string& path, const std::vector<std::string>& args, const std::string* input,
                         const std::vector<std::string>& env, int max_ms = 60000);

// A loopback port nobody listens on (bound once, then released).
int closed_port();

// Whether `part` occurs in `text` (a program's output).
inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// How often `part` occurs in `text`, overlapping occurrences counted.
inline std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace e2ecli
