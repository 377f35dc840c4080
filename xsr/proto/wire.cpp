#include "xsr/proto/wire.h"

#include <cstring>

namespace xsrproto {

CommandHeader decode_header(const unsigned char* p) {
    CommandHeader h;
    h.code = get_u16(p);
    h.constant = get_u16(p + 2);
    h.a = get_i32(p + 4);
    h.b = get_i32(p + 8);
    h.c = get_i32(p + 12);
    return h;
}

void encode_header(unsigned char* p, const CommandHeader& h) {
    put_u16(p, h.code);
    put_u16(p + 2, h.constant);
    put_i32(p + 4, h.a);
    put_i32(p + 8, h.b);
    put_i32(p + 12, h.c);
}

void put_lead(unsigned char* p, Kind kind, uint32_t request_id, std::size_t fields) {
    put_u32(p, static_cast<uint32_t>(kHeadSize + fields));
    put_u16(p + 4, kMagic);
    p[6] = kVersion;
    p[7] = kind;
    put_u32(p + 8, request_id);
}

bool frame_length_ok(uint32_t length, uint32_t max_frame) {
    return length >= kHeadSize && length <= max_frame;
}

HeadStatus decode_head(const unsigned char* p, std::size_t length, Head* out) {
    if (length < kHeadSize) return HeadStatus::BadLength;
    if (get_u16(p) != kMagic) return HeadStatus::BadMagic;
    if (p[2] != kVersion) return HeadStatus::BadVersion;
    const uint8_t kind = p[3];
    if (kind < kLogin || kind > kFault) return HeadStatus::BadKind;
    out->kind = static_cast<Kind>(kind);
    out->request_id = get_u32(p + 4);
    return HeadStatus::Ok;
}

bool decode_command(const unsigned char* p, std::size_t n, CommandView* out) {
    if (n < kCommandFixed + 4) return false;
    out->header = decode_header(p);
    out->capacity = get_i32(p + 16);
    out->part_ticket = get_ticket(p + 20);
    const uint32_t body_len = get_u32(p + 28);
    std::size_t pos = kCommandFixed;
    // body and the 4-byte body2 length must fit in what is left
    if (body_len > n - pos || n - pos - body_len < 4) return false;
    out->body = p + pos;
    out->body_len = body_len;
    pos += body_len;
    const uint32_t body2_len = get_u32(p + pos);
    pos += 4;
    if (body2_len != n - pos) return false;
    out->body2 = p + pos;
    out->body2_len = body2_len;
    return true;
}

bool encode_command_lead(unsigned char* out, uint32_t request_id, const unsigned char header[16],
                         int32_t capacity, const Ticket& part_ticket, std::size_t body_len,
                         std::size_t body2_len) {
    const uint64_t fields = static_cast<uint64_t>(kCommandFixed) + body_len + 4 + body2_len;
    if (fields + kHeadSize > kMaxFrame) return false;
    put_lead(out, kCommand, request_id, static_cast<std::size_t>(fields));
    unsigned char* p = out + kPrefixSize + kHeadSize;
    std::memcpy(p, header, kHeaderSize);
    put_i32(p + 16, capacity);
    put_ticket(p + 20, part_ticket);
    put_u32(p + 28, static_cast<uint32_t>(body_len));
    return true;
}

void encode_answer_lead(unsigned char* out, uint32_t request_id, const AnswerFixed& a) {
    put_lead(out, kAnswer, request_id, kAnswerFixed + a.answer_len);
    unsigned char* p = out + kPrefixSize + kHeadSize;
    put_i32(p, a.result);
    put_ticket(p + 4, a.part_ticket);
    put_u32(p + 12, a.whole_len);
    put_u32(p + 16, a.answer_len);
}

bool decode_answer_fixed(const unsigned char* p, std::size_t n, AnswerFixed* out) {
    if (n < kAnswerFixed) return false;
    out->result = get_i32(p);
    out->part_ticket = get_ticket(p + 4);
    out->whole_len = get_u32(p + 12);
    out->answer_len = get_u32(p + 16);
    return out->answer_len == n - kAnswerFixed && out->whole_len >= out->answer_len;
}

namespace {

std::vector<unsigned char> small_frame(Kind kind, uint32_t request_id, std::size_t fields) {
    std::vector<unsigned char> f(kPrefixSize + kHeadSize + fields, 0);
    put_lead(f.data(), kind, request_id, fields);
    return f;
}
constexpr std::size_t kFields = kPrefixSize + kHeadSize;

}  // namespace

std::vector<unsigned char> encode_welcome(uint32_t request_id, const Welcome& w) {
    auto f = small_frame(kWelcome, request_id, kWelcomeFixed);
    put_i32(&f[kFields], w.result);
    put_u32(&f[kFields + 4], w.session);
    std::memcpy(&f[kFields + 8], w.token, kTokenSize);
    return f;
}

bool decode_welcome(const unsigned char* p, std::size_t n, Welcome* out) {
    if (n != kWelcomeFixed) return false;
    out->result = get_i32(p);
    out->session = get_u32(p + 4);
    std::memcpy(out->token, p + 8, kTokenSize);
    return true;
}

std::vector<unsigned char> encode_login(uint32_t request_id, const unsigned char login[kLoginSize]) {
    auto f = small_frame(kLogin, request_id, kLoginSize);
    std::memcpy(&f[kFields], login, kLoginSize);
    return f;
}

std::vector<unsigned char> encode_attach(uint32_t request_id, uint32_t session,
                                         const unsigned char token[kTokenSize]) {
    auto f = small_frame(kAttach, request_id, 4 + kTokenSize);
    put_u32(&f[kFields], session);
    std::memcpy(&f[kFields + 4], token, kTokenSize);
    return f;
}

std::vector<unsigned char> encode_probe(uint32_t request_id) {
    return small_frame(kProbe, request_id, 0);
}

std::vector<unsigned char> encode_fault(uint32_t request_id, int32_t code) {
    auto f = small_frame(kFault, request_id, kFaultFixed);
    put_i32(&f[kFields], code);
    return f;
}

bool decode_fault(const unsigned char* p, std::size_t n, int32_t* code) {
    if (n != kFaultFixed) return false;
    *code = get_i32(p);
    return true;
}

namespace {

bool field(const unsigned char* p, std::size_t size, std::string* out) {
    const void* nul = std::memchr(p, 0, size);
    if (!nul) return false;
    out->assign(reinterpret_cast<const char*>(p),
                static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - p));
    return true;
}

}  // namespace

bool decode_login(const unsigned char* p, std::size_t n, LoginFields* out) {
    if (n != kLoginSize) return false;
    return field(p, 64, &out->user) && field(p + 64, 32, &out->password) &&
           field(p + 96, 16, &out->server);
}

bool decode_attach(const unsigned char* p, std::size_t n, uint32_t* session,
                   unsigned char token[kTokenSize]) {
    if (n != 4 + kTokenSize) return false;
    *session = get_u32(p);
    std::memcpy(token, p + 4, kTokenSize);
    return true;
}

bool BodyReader::i32(int32_t* v) {
    if (remaining() < 4) return false;
    *v = get_i32(p_ + pos_);
    pos_ += 4;
    return true;
}

bool BodyReader::byte(uint8_t* v) {
    if (remaining() < 1) return false;
    *v = p_[pos_++];
    return true;
}

bool BodyReader::cstr(std::string* out, std::size_t max_len) {
    if (remaining() == 0) return false;
    const void* nul = std::memchr(p_ + pos_, 0, remaining());
    if (!nul) return false;
    const std::size_t len =
        static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (p_ + pos_));
    if (len > max_len) return false;
    out->assign(reinterpret_cast<const char*>(p_ + pos_), len);
    pos_ += len + 1;
    return true;
}

void BodyReader::rest(const unsigned char** p, std::size_t* n) {
    *p = p_ + pos_;
    *n = remaining();
    pos_ = n_;
}

const char* code_name(int32_t code) {
    switch (code) {
        case kErrResolve: return "host name not resolved";
        case kErrConnect: return "connection refused or unreachable";
        case kErrConnectTimeout: return "connect time limit passed";
        case kErrLogin: return "login refused";
        case kErrHandle: return "unknown connection handle";
        case kErrLost: return "connection lost";
        case kErrTimeout: return "I/O time limit passed";
        case kErrProtocol: return "malformed frame";
        case kErrArgument: return "call breaks the calling contract";
        case kErrTooLarge: return "request too large";
        case kErrResources: return "out of resources";
        case kErrClosed: return "connection closed during the call";
        case kErrNoMatch: return "replay: no recorded call matches";
        case kErrUnknownModule: return "unknown module";
        case kErrNotStarted: return "module not started";
        case kErrTicket: return "unknown ticket";
        case kErrOverflow: return "no room for the ticket of a pending answer";
        case kErrRequest: return "malformed request";
        case kErrCommand: return "unknown command";
        case kErrRegistered: return "module already registered";
        case kErrVersion: return "version mismatch";
        case kErrNoImplementation: return "no implementation for the module";
        case kErrNoCluster: return "no such cluster or node";
        case kErrStatement: return "statement not understood";
        case kErrBusy: return "server busy";
        case kErrShutdown: return "server stopping";
        case kErrHeldLimit: return "answers held for tickets at their bound";
        default: return nullptr;
    }
}

}  // namespace xsrproto
