#include "tools/orqext/credentials.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tools/orqext/cli.h"
#include "tools/orqext/interrupt.h"

namespace orqext {

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : fallback;
}

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

namespace {

// The fields of one password file line, with "\:" and "\\" undone.
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> f(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            f.back() += line[++i];
        } else if (line[i] == ':' && f.size() < 4) {
            f.emplace_back();
        } else {
            f.back() += line[i];
        }
    }
    return f;
}

// More than any password file holds; the rest of a larger one is not read.
constexpr std::size_t kMaxPasswordFile = 1u << 20;

bool field_matches(const std::string& field, const std::string& value) { return field == "*" || field == value; }

}  // namespace

bool password_from_lines(const std::string& text, const std::string& host, int32_t port, const std::string& user,
                         std::string* password) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = split_fields(line);
        if (f.size() != 4) continue;
        if (field_matches(f[0], host) && field_matches(f[1], std::to_string(port)) && field_matches(f[2], user)) {
            *password = f[3];
            return true;
        }
    }
    return false;
}

bool password_from_file(const std::string& given, const std::string& host, int32_t port, const std::string& user,
                        std::string* password) {
    std::string path = given.empty() ? env_or("ORQEXT_PASSFILE", "") : given;
    const bool named = !path.empty();
    if (!named) {
        const std::string home = env_or("HOME", "");
        if (home.empty()) return false;
        path = home + "/.orqextpass";
    }
    std::string text;
    orq::platform::FileProblem problem;
    if (!orq::platform::read_whole_file(path, orq::platform::ReadRule::Private, kMaxPasswordFile, &text, &problem)) {
        if (problem.missing && !named) return false;
        throw UsageError("password file " + path + ": " + problem.why + "; it was not used");
    }
    return password_from_lines(text, host, port, user, password);
}

namespace {
bool g_prompt_allowed = true;
}  // namespace

void allow_password_prompt(bool allowed) { g_prompt_allowed = allowed; }
bool password_prompt_allowed() { return g_prompt_allowed; }

bool prompt_password(const std::string& host, int32_t port, const std::string& user, std::ostream& err,
                     std::string* password) {
    static bool asked = false;
    static std::string kept;
    if (asked) {
        *password = kept;
        return true;
    }
    if (!g_prompt_allowed || !::isatty(STDIN_FILENO)) return false;
    err << "Password for " << user << "@" << host << ":" << port << ": " << std::flush;
    termios old {};
    const bool term = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (term) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    unsigned char c = 0;
    bool quit = false;
    int got = 0;
    // Byte by byte from the descriptor: nothing is left in a stdio buffer
    // for the line editor that reads the same terminal afterwards. Ctrl-C
    // in the shell gives the prompt up.
    while ((got = interrupts::read_terminal_byte(&c, &quit)) == 1 && c != '\n') line += static_cast<char>(c);
    if (term) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    if (got < 0) {
        err << "\n" << std::flush;
        throw GaveUp{"Ctrl-C: the password prompt was given up; the command did not run"};
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    asked = true;
    kept = line;
    *password = line;
    return true;
}

}  // namespace orqext
