// The session of the shell and of batch mode: one connection, opened at the
// first line that needs it and kept for the lines after it, so that what the
// connection holds (clustering switched on, domains opened) carries over.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/orqext/cli.h"
#include "tools/orqext/interrupt.h"

namespace orqext {

// The connection options among argv-style words ("--port", "7300",
// "--host=h"): (name, value) in order.
std::vector<std::pair<std::string, std::string>> connection_words(const std::vector<std::string>& words);
// The words without their connection options.
std::vector<std::string> without_connection_words(const std::vector<std::string>& words);

class Link {
public:
    explicit Link(std::vector<std::string> leading);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The options that go in front of every line.
    const std::vector<std::string>& leading() const { return leading_; }
    // Those for a 'connect' line with connection options `given`: the
    // session's without the ones `given` replaces (--connect replaces the
    // other five, and any of them replaces --connect).
    std::vector<std::string> leading_for_connect(const std::vector<std::pair<std::string, std::string>>& given) const;
    // The kept connection, when ctx's connection options are the session's
    // (opened now when there is none; reopened after a loss, which is said
    // once); 0 when the line gives options of its own. CallFailed when the
    // connection cannot be opened.
    int32_t acquire(const Context& ctx);
    // What Ctrl-C does while a command uses the kept connection.
    interrupts::Action drop_action();
    // After each line: a connection that was lost or dropped is closed and
    // said so once; the next line that needs one opens a new one.
    void after_command(std::ostream& err);
    // 'connect': a connection with ctx's options replaces the kept one (which
    // stays when the new one cannot be opened); those options go in front of
    // the following lines.
    Endpoint switch_to(const Context& ctx);
    bool open() const { return conn_ != 0; }

private:
    void close();
    std::string where() const;

    std::vector<std::string> leading_;
    std::string key_;
    int32_t conn_ = 0;
    Endpoint endpoint_;
    bool clustering_ = false;  // switched on again when the connection is reopened
    bool reopened_note_ = false;
    std::atomic<bool> dropped_{false};
};

}  // namespace orqext
