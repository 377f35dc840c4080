// Where orqext finds the connection settings that the command line leaves
// open: the environment (ORQEXT_HOST, ORQEXT_PORT, ORQEXT_USER,
// ORQEXT_PASSWORD), a password file, and a prompt without echo on a terminal.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace orqext {

// A variable of the environment; `fallback` when it is unset.
std::string env_or(const char* name, const std::string& fallback);

// Everything left to read from a descriptor (reads cut short by a signal are
// taken up again).
std::string read_all(int fd);

// One line of a password file matched: host:port:user:password, each of the
// first three may be "*"; "\:" and "\\" stand for ':' and '\'. Lines that
// start with '#' and empty lines are skipped. The password of the first
// matching line; false when none matches.
bool password_from_lines(const std::string& text, const std::string& host, int32_t port, const std::string& user,
                         std::string* password);

// The password file: `path` when given (--password-file), else
// $ORQEXT_PASSFILE, else ~/.orqextpass (skipped when it does not exist).
// It must be a regular file of this user with no access for group or others
// (mode 0600 or stricter), and is never reached through a symbolic link:
// anything else throws UsageError saying what to change, without reading it.
// False when there is no file to read or no line matches.
bool password_from_file(const std::string& path, const std::string& host, int32_t port, const std::string& user,
                        std::string* password);

// Asks for the password on the terminal with echo off (the prompt on err);
// false when standard input is no terminal. Once answered, the password is
// kept for the rest of the process (the interactive shell asks once).
bool prompt_password(const std::string& host, int32_t port, const std::string& user, std::ostream& err,
                     std::string* password);
// Turns the prompt off (the shell's completion reads the module list without
// asking) and on again.
// While it is off, a command that would need to ask fails instead of
// trying the default password.
void allow_password_prompt(bool allowed);
bool password_prompt_allowed();

}  // namespace orqext
