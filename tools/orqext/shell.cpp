#include "tools/orqext/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include "exports/orqext.h"
#include "platform/files.h"
#include "tools/orqext/cli.h"
#include "tools/orqext/credentials.h"
#include "tools/orqext/interrupt.h"
#include "tools/orqext/link.h"

#if defined(ORQEXT_HAVE_LIBEDIT)
#include <editline/readline.h>
#endif

namespace orqext {

namespace {

struct RemoteFunction {
    const char* module;
    const char* name;
};

const RemoteFunction kRemoteFunctions[] = {
#include "remote_functions.h"
};

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// Commands whose first argument is a module name.
bool names_a_module(const std::string& path) {
    return path == "send" || path == "module info" || path == "module register" || path == "module unregister" ||
           path == "module start" || path == "module stop";
}

}  // namespace

std::string mask_secrets(const std::string& line) {
    std::vector<std::string> words;
    try {
        words = split_command_line(line);
    } catch (const UsageError&) {
        return line.find("pass") == std::string::npos ? line : std::string("# (a line with an unclosed quote)");
    }
    bool masked = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string& w = words[i];
        if (w == "--password" && i + 1 < words.size()) {
            words[++i] = "***";
            masked = true;
        } else if (starts_with(w, "--password=")) {
            w = "--password=***";
            masked = true;
        } else if (i > 0 && words[i - 1] == "--connect") {
            // pass=... up to the next ';' (keys in any letter case)
            std::string lower = w;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (std::size_t at = lower.find("pass"); at != std::string::npos; at = lower.find("pass", at + 1)) {
                std::size_t k = at + 4;
                while (k < w.size() && (w[k] == ' ' || w[k] == '\t')) ++k;
                if (k >= w.size() || w[k] != '=') continue;
                const std::size_t end = std::min(w.find(';', k), w.size());
                w.replace(k + 1, end - k - 1, "***");
                lower.replace(k + 1, end - k - 1, "***");
                masked = true;
            }
        }
    }
    if (!masked) return line;
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        const bool plain = !w.empty() && w.find_first_of(" \t'\"\\;#") == std::string::npos;
        if (plain) {
            out += w;
            continue;
        }
        out += '\'';
        for (char c : w) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += '\'';
    }
    return out;
}

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> words;
    std::string w;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else w += c;
        } else if (c == '\\' && i + 1 < line.size()) {
            w += line[++i];
            in_word = true;
        } else if (quote == '"') {
            if (c == '"') quote = 0;
            else w += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (in_word) words.push_back(w);
            w.clear();
            in_word = false;
        } else {
            w += c;
            in_word = true;
        }
    }
    if (quote) throw UsageError(std::string("unclosed ") + (quote == '"' ? "double" : "single") + " quote");
    if (in_word) words.push_back(w);
    return words;
}

std::vector<std::string> completions(const std::vector<std::string>& before, const std::string& partial,
                                     const std::vector<std::string>& modules) {
    std::set<std::string> out;
    auto offer = [&](const std::string& c) {
        if (starts_with(c, partial)) out.insert(c);
    };
    // The command the words so far name, and the words after it.
    std::vector<std::string> words;
    for (const std::string& w : before)
        if (!starts_with(w, "-")) words.push_back(w);
    const CommandSpec* spec = nullptr;
    std::size_t used = 0;
    for (const CommandSpec& c : commands()) {
        std::istringstream is(c.path);
        std::vector<std::string> p;
        for (std::string x; is >> x;) p.push_back(x);
        if (p.size() <= words.size() && p.size() > used && std::equal(p.begin(), p.end(), words.begin())) {
            spec = &c;
            used = p.size();
        }
    }
    const std::string last = before.empty() ? std::string() : before.back();
    if (last == "--target") {
        const std::string module = spec && spec->path == "send" && words.size() > used ? words[used] : std::string();
        for (const RemoteFunction& f : kRemoteFunctions)
            if (module.empty() || module == f.module) offer(f.name);
    } else if (starts_with(partial, "-")) {
        for (const std::string& o : option_names(spec)) offer(o);
    } else if (!spec) {
        // A command's words: the first one, or the next one of a group.
        for (const CommandSpec& c : commands()) {
            std::istringstream is(c.path);
            std::vector<std::string> p;
            for (std::string x; is >> x;) p.push_back(x);
            if (p.size() > words.size() && std::equal(words.begin(), words.end(), p.begin())) offer(p[words.size()]);
        }
        if (words.empty())
            for (const char* b : {"help", "exit", "quit", "\\c"}) offer(b);
    } else if (names_a_module(spec->path) && words.size() == used) {
        for (const std::string& m : modules) offer(m);
        for (const RemoteFunction& f : kRemoteFunctions) offer(f.module);
    }
    return std::vector<std::string>(out.begin(), out.end());
}

namespace {

// ~/.orqext_history: the shell's history, written under the rules of
// platform/files.h (a private file of the user's; anything else is left
// alone and the history not kept, said once).
std::string history_path() {
    const std::string given = env_or("ORQEXT_HISTFILE", "");
    if (!given.empty()) return given;
    const std::string home = env_or("HOME", "");
    return home.empty() ? std::string() : home + "/.orqext_history";
}

constexpr std::size_t kHistoryLines = 500;

std::vector<std::string> load_history(const std::string& path) {
    std::vector<std::string> lines;
    if (path.empty()) return lines;
    std::string text;
    orq::platform::FileProblem problem;  // said when it is written
    if (!orq::platform::read_whole_file(path, orq::platform::ReadRule::Private, 1u << 20, &text, &problem)) return lines;
    std::istringstream is(text);
    for (std::string l; std::getline(is, l);)
        if (!l.empty()) lines.push_back(l);
    if (lines.size() > kHistoryLines) lines.erase(lines.begin(), lines.end() - kHistoryLines);
    return lines;
}

void save_history(const std::string& path, const std::vector<std::string>& lines, std::ostream& err) {
    if (path.empty()) return;
    orq::platform::File f;
    orq::platform::FileProblem problem;
    if (!orq::platform::open_for_writing(path, orq::platform::WriteRule::Replace, &f, &problem)) {
        static bool told = false;  // once per session, not after every command
        if (!told) err << "orqext: history not kept in " << terminal_safe(path) << ": " << problem.why << "\n";
        told = true;
        return;
    }
    std::string text;
    const std::size_t from = lines.size() > kHistoryLines ? lines.size() - kHistoryLines : 0;
    for (std::size_t i = from; i < lines.size(); ++i) text += lines[i] + "\n";
    std::string why;
    f.write(text.data(), text.size(), &why);
}

// Runs one command line in the session; the exit code, or -1 for "exit".
int run_line(const std::string& program, Link& link, const std::string& text, std::ostream& out,
             std::ostream& err) {
    std::string line = text;
    // psql's \c for 'connect' (a backslash is an escape to the word splitter).
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line.compare(first, 2, "\\c") == 0 &&
        (line.size() == first + 2 || line[first + 2] == ' ' || line[first + 2] == '\t'))
        line.replace(first, 2, "connect");
    std::vector<std::string> words;
    try {
        words = split_command_line(line);
    } catch (const UsageError& e) {
        err << "orqext: " << e.what() << "\n";
        return kExitUsage;
    }
    if (words.empty() || starts_with(words[0], "#")) return kExitOk;
    if (words.size() == 1 && (words[0] == "exit" || words[0] == "quit")) return -1;
    // 'connect' with connection options of its own: those replace the
    // session's, the others are kept (as psql's \c keeps what it is not told).
    const std::vector<std::string> leading =
        words[0] == "connect" ? link.leading_for_connect(connection_words(words)) : link.leading();
    std::vector<std::string> args{program};
    args.insert(args.end(), leading.begin(), leading.end());
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (interrupts::active()) interrupts::begin_command();
    int code = run_cli(static_cast<int>(args.size()), argv.data(), out, err, &link);
    out.flush();
    if (interrupts::active()) {
        const std::string said = interrupts::end_command();
        if (!said.empty()) {
            err << "\n" << said;
            code = kExitInterrupted;
        }
    }
    link.after_command(err);
    return code;
}

// Reads the batch file of -f (a FIFO too; opening never waits for a writer).
std::string read_input(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw UsageError("-f: cannot read '" + path + "': " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw UsageError("-f: '" + path + "' is a directory");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // a FIFO's lines are waited for
    const std::string text = read_all(fd);
    ::close(fd);
    return text;
}

// Ctrl-C at the prompt: the line typed so far is dropped.
bool g_line_cleared = false;

#if !defined(ORQEXT_HAVE_LIBEDIT)
// A line of the terminal without line editing; false at the end of input.
bool read_plain_line(std::string* line) {
    line->clear();
    for (;;) {
        unsigned char c = 0;
        bool quit = false;
        const int r = interrupts::read_terminal_byte(&c, &quit);
        if (r < 0) {
            g_line_cleared = true;
            return !quit;
        }
        if (r == 0) return !line->empty();
        if (c == '\n') return true;
        *line += static_cast<char>(c);
    }
}
#endif

#if defined(ORQEXT_HAVE_LIBEDIT)

// The line editor's reading: a UTF-8 character as its code point, or the end
// of the line for Ctrl-C (the shell then drops the line).
bool g_quit_at_prompt = false;
int getc_or_interrupt(FILE*) {
    unsigned char c = 0;
    bool quit = false;
    const int r = interrupts::read_terminal_byte(&c, &quit);
    if (r < 0) {
        g_line_cleared = true;
        g_quit_at_prompt = quit;
        return '\n';
    }
    if (r == 0) return EOF;
    int follow = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
    int cp = follow == 3 ? c & 0x07 : follow == 2 ? c & 0x0f : follow == 1 ? c & 0x1f : c;
    while (follow-- > 0) {
        unsigned char n = 0;
        if (interrupts::read_terminal_byte(&n, &quit) != 1) return EOF;
        cp = (cp << 6) | (n & 0x3f);
    }
    return cp;
}

struct Completer {
    std::string program;
    Link* link;
    std::vector<std::string> modules;
    bool modules_read = false;
    std::vector<std::string> matches;
    std::size_t next = 0;
};
Completer* g_completer = nullptr;

// The server's module names, read once ("module list" without a password
// prompt: completion never asks for one, nor tries the default; until a
// password is known it reads nothing).
void read_modules(Completer& c) {
    if (c.modules_read) return;
    std::ostringstream out, err;
    allow_password_prompt(false);
    Link own(c.link->leading());  // completion never touches the session
    c.modules_read = run_line(c.program, own, "module list", out, err) == kExitOk;
    allow_password_prompt(true);
    std::istringstream is(out.str());
    bool in_lines = false;
    for (std::string l; std::getline(is, l);) {
        if (l == "lines:") {
            in_lines = true;
            continue;
        }
        if (!in_lines || l.size() < 3 || l[0] != ' ') break;
        std::istringstream ws(l);
        std::string first;
        if (ws >> first) c.modules.push_back(first);
    }
}

char* next_match(const char*, int state) {
    if (state == 0) g_completer->next = 0;
    if (g_completer->next >= g_completer->matches.size()) return nullptr;
    return ::strdup(g_completer->matches[g_completer->next++].c_str());
}

char** complete_here(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // no file names
    std::vector<std::string> before;
    try {
        before = split_command_line(std::string(rl_line_buffer, static_cast<std::size_t>(start)));
    } catch (const UsageError&) {
        return nullptr;
    }
    if (!before.empty()) read_modules(*g_completer);
    g_completer->matches = completions(before, text, g_completer->modules);
    return rl_completion_matches(text, next_match);
}

#endif

}  // namespace

int run_shell(const std::string& program, const std::vector<std::string>& leading, std::ostream& out,
              std::ostream& err, const ShellOptions& options) {
    Link link(leading);
    if (!options.input.empty() || !::isatty(STDIN_FILENO)) {
        // Batch mode: one command a line, all in one session.
        std::istringstream file(options.input.empty() ? std::string() : read_input(options.input));
        std::istream& in = options.input.empty() ? std::cin : file;
        int first_failure = kExitOk;
        std::string line;
        for (std::size_t n = 1; std::getline(in, line); ++n) {
            const int code = run_line(program, link, line, out, err);
            if (code < 0) break;
            if (code != kExitOk) {
                err << "orqext: line " << n << " ended with exit code " << code
                    << (options.stop_on_error ? "; the batch stops here (--stop-on-error)" : "") << "\n";
                if (first_failure == kExitOk) first_failure = code;
                if (options.stop_on_error) break;
            }
        }
        return first_failure;
    }
    out << "orqext " ORQEXT_VERSION_STRING " shell: 'help' lists the commands, 'exit' or Ctrl-D ends; Ctrl-C\n"
           "clears the line or stops a command, twice within a second ends.\n";
#if !defined(ORQEXT_HAVE_LIBEDIT)
    out << "Line editing, history recall and Tab completion are off: this orqext was built without libedit.\n";
#endif
    GateBuf out_gate(out.rdbuf()), err_gate(err.rdbuf());
    std::ostream gated_out(&out_gate), gated_err(&err_gate);
    interrupts::start(&out_gate, &err_gate);
    const std::string hist = history_path();
    std::vector<std::string> history = load_history(hist);
    int last = kExitOk;
#if defined(ORQEXT_HAVE_LIBEDIT)
    Completer completer{program, &link, {}, false, {}, 0};
    g_completer = &completer;
    rl_readline_name = "orqext";
    rl_catch_signals = 0;  // Ctrl-C is the shell's (interrupt.h)
    rl_getc_function = getc_or_interrupt;
    rl_attempted_completion_function = complete_here;
    for (const std::string& h : history) add_history(h.c_str());
#endif
    for (;;) {
        const std::string prompt = last == kExitOk ? "orqext> " : "orqext [" + std::to_string(last) + "]> ";
        std::string line;
        g_line_cleared = false;
#if defined(ORQEXT_HAVE_LIBEDIT)
        out.flush();
        char* got = readline(prompt.c_str());
        if (!got) break;
        line = got;
        std::free(got);
        if (g_quit_at_prompt) break;
#else
        out << prompt << std::flush;
        const bool more = read_plain_line(&line);
        if (g_line_cleared) out << "\n";
        if (!more) break;
#endif
        if (g_line_cleared || interrupts::quit_requested()) {
            if (interrupts::quit_requested()) break;
            continue;  // Ctrl-C: the line is dropped
        }
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        line.erase(line.find_last_not_of(" \t") + 1);  // completion leaves a blank behind
        const std::string kept = mask_secrets(line);
        if (history.empty() || history.back() != kept) {
            history.push_back(kept);
#if defined(ORQEXT_HAVE_LIBEDIT)
            add_history(kept.c_str());
#endif
            save_history(hist, history, err);
        }
        const int code = run_line(program, link, line, gated_out, gated_err);
        if (code < 0 || interrupts::quit_requested()) break;
        last = code;
    }
    out << "\n";
#if defined(ORQEXT_HAVE_LIBEDIT)
    g_completer = nullptr;
#endif
    return interrupts::quit_requested() ? kExitInterrupted : kExitOk;
}

}  // namespace orqext
