// orqext with options and no command: a shell on a terminal (line editing,
// history, completion), one command a line otherwise (batch mode).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orqext {

// Splits a command line into words as a POSIX shell would for plain words:
// blanks separate, '...' and "..." quote, a backslash outside single quotes
// takes the next character as it is. UsageError for an unclosed quote.
std::vector<std::string> split_command_line(const std::string& line);

// The line as the history keeps it: the values of --password and of pass=
// in --connect replaced by ***.
std::string mask_secrets(const std::string& line);

// What may follow: `before` are the complete words typed so far, `partial`
// the word being typed. Command words, a command's options, module names
// (`modules`, plus the service modules) where a module is named, and remote
// function names after --target. Sorted, without repeats.
std::vector<std::string> completions(const std::vector<std::string>& before, const std::string& partial,
                                     const std::vector<std::string>& modules);

struct ShellOptions {
    std::string input;           // -f FILE: commands from FILE (batch mode)
    bool stop_on_error = false;  // a batch ends at the first failing line
};

// Runs commands read from standard input (or options.input), each as
// `program leading... WORDS` would run, all in one session (one kept
// connection): interactively when they come from a terminal. Returns 0 when
// every command succeeded, else the exit code of the first one that failed.
int run_shell(const std::string& program, const std::vector<std::string>& leading, std::ostream& out,
              std::ostream& err, const ShellOptions& options = ShellOptions());

}  // namespace orqext
