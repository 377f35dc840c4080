// Helpers for the trace tests: the trace record of a call the scripted double
// saw, with the answer it gave, and temporary trace files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_path.h"
#include "xsr/double/xsr_double.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

namespace trace_test {

// The record the recording XSRClient would write for call c answered with
// reply (reply is read for commands only).
inline xsrtrace::Record record_of(const xsrdouble::Call& c, const xsrdouble::Reply& reply = xsrdouble::Reply()) {
    xsrtrace::Record r;
    r.handle = c.handle;
    switch (c.fn) {
        case xsrdouble::Fn::Open: {
            r.fn = xsrtrace::Fn::Open;
            r.server = c.server;
            r.port = c.port;
            XSR_Login login{};
            std::copy(c.login.begin(), c.login.begin() + std::min(c.login.size(), sizeof login),
                      reinterpret_cast<char*>(&login));
            r.user = std::string(login.user, strnlen(login.user, sizeof login.user));
            r.login_server = std::string(login.server, strnlen(login.server, sizeof login.server));
            break;
        }
        case xsrdouble::Fn::Check:
            r.fn = xsrtrace::Fn::Check;
            r.server = c.server;
            r.port = c.port;
            break;
        case xsrdouble::Fn::Close: r.fn = xsrtrace::Fn::Close; break;
        case xsrdouble::Fn::IsValid:
            r.fn = xsrtrace::Fn::IsValid;
            r.result = 1;
            break;
        case xsrdouble::Fn::Command: {
            r.fn = xsrtrace::Fn::Command;
            r.magic = c.magic;
            r.timeout_hint = c.timeout_hint;
            r.answer_null = c.answer_null;
            r.len_null = c.len_null;
            r.capacity = c.capacity;
            r.header = c.header;
            r.body = c.body;
            r.body2 = c.body2;
            r.body2_null = c.body2_null;
            r.result = reply.result;
            const std::size_t kept = std::min<std::size_t>(c.capacity < 0 ? 0 : c.capacity, reply.bytes.size());
            r.answer = c.answer_null ? std::string() : reply.bytes.substr(0, kept);
            r.answer_len = reply.reported_len >= 0 ? reply.reported_len : static_cast<int32_t>(kept);
            break;
        }
    }
    return r;
}

// Answers every command from a list of replies in turn and keeps what it
// answered, so that a run against the double can be written as a trace.
class Scripted {
public:
    explicit Scripted(std::vector<xsrdouble::Reply> replies) : replies_(std::move(replies)) {
        xsrdouble::set_handler([this](const xsrdouble::Call&) {
            const xsrdouble::Reply r = next_ < replies_.size() ? replies_[next_] : xsrdouble::ok();
            ++next_;
            given_.push_back(r);
            return r;
        });
    }
    // Every call of the run so far as trace records, in order.
    std::vector<xsrtrace::Record> records() const {
        std::vector<xsrtrace::Record> out;
        std::size_t answered = 0;
        for (const xsrdouble::Call& c : xsrdouble::calls()) {
            if (c.fn == xsrdouble::Fn::Command)
                out.push_back(record_of(c, answered < given_.size() ? given_[answered++] : xsrdouble::ok()));
            else
                out.push_back(record_of(c));
        }
        return out;
    }

private:
    std::vector<xsrdouble::Reply> replies_;
    std::size_t next_ = 0;
    std::vector<xsrdouble::Reply> given_;
};

// A file in the temporary folder, removed when the test ends.
class TempFile {
public:
    explicit TempFile(const std::string& name) {
        path_ = testing_support::temp_path("orq_", name);
        std::remove(path_.c_str());
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    void write(const std::string& text) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    void write(const std::vector<xsrtrace::Record>& records) const {
        std::string all;
        uint64_t seq = 0;
        for (xsrtrace::Record r : records) {
            r.seq = ++seq;
            all += xsrtrace::encode(r);
        }
        write(all);
    }
    std::string read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

}  // namespace trace_test
