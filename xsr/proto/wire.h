// The wire protocol between the networked XSRClient (xsr/net) and xsr-sim:
// frame layout, frame kinds, limits, the codes of our own, and the encoders
// and bounded decoders both sides use. docs/protocol.md describes the same.
//
// Every frame is a 4-byte little-endian length followed by that many bytes:
//   u16 magic 0x5258, u8 version 2, u8 kind, u32 request id, kind's fields.
// All integers are little-endian. Decoders check every length against the
// bytes received and never read past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xsrproto {

constexpr uint16_t kMagic = 0x5258;  // "XR" on the wire
// 2: answers carry the whole answer's length (version 1 did not).
constexpr uint8_t kVersion = 2;

enum Kind : uint8_t {
    kLogin = 1,    // client: 112-byte login record
    kAttach = 2,   // client: u32 session, 16-byte token (another socket of a session)
    kProbe = 3,    // client: nothing (server status without login)
    kWelcome = 4,  // server: i32 result, u32 session, 16-byte token
    kCommand = 5,  // client: one XSR_CommandEx request
    kAnswer = 6,   // server: the answer to one command
    kFault = 7,    // server: i32 code; the frame before it was refused, the socket closes
};

constexpr std::size_t kPrefixSize = 4;  // frame length
constexpr std::size_t kHeadSize = 8;    // magic, version, kind, request id
constexpr std::size_t kLoginSize = 112;
constexpr std::size_t kTokenSize = 16;
constexpr std::size_t kTicketSize = 8;
constexpr std::size_t kHeaderSize = 16;  // the command header of XSR_CommandEx
// Command: header(16) capacity(4) part ticket(8) body_len(4) body body2_len(4) body2
constexpr std::size_t kCommandFixed = kHeaderSize + 4 + kTicketSize + 4;
// Answer: result(4) part ticket(8) whole_len(4) answer_len(4) answer
constexpr std::size_t kAnswerFixed = 4 + kTicketSize + 4 + 4;
constexpr std::size_t kWelcomeFixed = 4 + 4 + kTokenSize;
constexpr std::size_t kFaultFixed = 4;
// Prefix, head and the fixed answer fields: what precedes the answer bytes.
constexpr std::size_t kAnswerLead = kPrefixSize + kHeadSize + kAnswerFixed;
constexpr std::size_t kCommandLead = kPrefixSize + kHeadSize + kCommandFixed;

// Largest frame either side accepts (the length in the prefix).
constexpr uint32_t kMaxFrame = 64u * 1024u * 1024u;
// Largest frame of the handshake kinds.
constexpr uint32_t kMaxSmallFrame = 256;

// The 16-byte command header: code, the constant 501, fields A, B, C.
constexpr uint16_t kHeaderConstant = 501;
// The constants every XSR_CommandEx call carries.
constexpr int32_t kCallMagic = 32639;

// Negative codes of the stand-in pair (docs/protocol.md tables them).
enum Code : int32_t {
    // Given by the client library.
    kErrResolve = -20001,        // host name could not be resolved
    kErrConnect = -20002,        // no address accepted the connection
    kErrConnectTimeout = -20003, // connect or handshake time limit passed
    kErrLogin = -20004,          // user name or password refused
    kErrHandle = -20005,         // no open connection has that handle
    kErrLost = -20006,           // the peer closed or reset the connection
    kErrTimeout = -20007,        // no answer within the I/O time limit
    kErrProtocol = -20008,       // malformed or unexpected frame from the peer
    kErrArgument = -20009,       // an XSR_ call broke its calling contract
    kErrTooLarge = -20010,       // the request does not fit in one frame
    kErrResources = -20011,      // out of sockets, threads or memory
    kErrClosed = -20012,         // XSR_CloseConn ran while the call was waiting
    // Given by the scripted double when it replays a trace (docs/trace.md).
    kErrNoMatch = -20013,        // no recorded call matches the request
    // Given by xsr-sim.
    kErrUnknownModule = -20101,  // no module of that name
    kErrNotStarted = -20102,     // module registered but not started
    kErrTicket = -20103,         // no pending answer has that ticket
    kErrOverflow = -20104,       // no room for the ticket of a pending answer
    kErrRequest = -20105,        // request body malformed for its command code
    kErrCommand = -20106,        // unknown command code or header constant
    kErrRegistered = -20107,     // module already registered
    kErrVersion = -20108,        // version does not match the registered one
    kErrNoImplementation = -20109,  // no hosted module type for the module
    kErrNoCluster = -20110,      // no such cluster or node in the description
    kErrStatement = -20111,      // statement or action document not understood
    kErrBusy = -20112,           // too many connections or running requests
    kErrShutdown = -20113,       // the server is stopping
    kErrHeldLimit = -20114,      // answers held for tickets at their bound
};

// Results of XSR_CommandEx that the callers interpret.
constexpr int32_t kPending = -9000;
constexpr int32_t kPart = -1108;
// The answer does not fit the capacity offered: the leading bytes that fit
// are delivered and the length is the whole answer's.
constexpr int32_t kTooLong = -1107;

// --- little-endian helpers -------------------------------------------------

inline void put_u16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put_u32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline void put_i32(unsigned char* p, int32_t v) { put_u32(p, static_cast<uint32_t>(v)); }
inline uint16_t get_u16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t get_i32(const unsigned char* p) { return static_cast<int32_t>(get_u32(p)); }

// --- tickets ----------------------------------------------------------------

// An answer ticket: two int32 values, 8 bytes on the wire.
struct Ticket {
    int32_t a = 0;
    int32_t b = 0;
    bool zero() const { return a == 0 && b == 0; }
    bool operator==(const Ticket& o) const { return a == o.a && b == o.b; }
    bool operator<(const Ticket& o) const { return a != o.a ? a < o.a : b < o.b; }
};
inline void put_ticket(unsigned char* p, const Ticket& t) {
    put_i32(p, t.a);
    put_i32(p + 4, t.b);
}
inline Ticket get_ticket(const unsigned char* p) { return Ticket{get_i32(p), get_i32(p + 4)}; }

// --- the command header -----------------------------------------------------

struct CommandHeader {
    uint16_t code = 0;
    uint16_t constant = 0;
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
};
CommandHeader decode_header(const unsigned char* p);  // 16 bytes
void encode_header(unsigned char* p, const CommandHeader& h);

// --- frame head -------------------------------------------------------------

// Writes prefix and head: the frame length covers head and `fields` bytes.
void put_lead(unsigned char* p, Kind kind, uint32_t request_id, std::size_t fields);

enum class HeadStatus { Ok, BadLength, BadMagic, BadVersion, BadKind };
struct Head {
    Kind kind = kLogin;
    uint32_t request_id = 0;
};
// Checks the length from a prefix against [kHeadSize, max_frame].
bool frame_length_ok(uint32_t length, uint32_t max_frame);
// Decodes the head at the start of a frame of `length` bytes (after the
// prefix). `length` must be at least kHeadSize.
HeadStatus decode_head(const unsigned char* p, std::size_t length, Head* out);

// --- kinds ------------------------------------------------------------------

// Command fields, pointing into the received frame.
struct CommandView {
    CommandHeader header;
    int32_t capacity = 0;
    Ticket part_ticket;
    const unsigned char* body = nullptr;
    uint32_t body_len = 0;
    const unsigned char* body2 = nullptr;
    uint32_t body2_len = 0;
};
// The fields after the head; false unless the lengths add up exactly.
bool decode_command(const unsigned char* p, std::size_t n, CommandView* out);
// Prefix, head and the fixed fields up to body_len: kCommandLead bytes. The
// sender follows them with body, the 4-byte body2 length and body2. False
// when the frame would exceed kMaxFrame.
bool encode_command_lead(unsigned char* out, uint32_t request_id, const unsigned char header[16],
                         int32_t capacity, const Ticket& part_ticket, std::size_t body_len,
                         std::size_t body2_len);

struct AnswerFixed {
    int32_t result = 0;
    Ticket part_ticket;
    // The length of the whole answer the bytes belong to, from its first
    // byte (earlier parts included); never less than answer_len. The client
    // reports it for kTooLong.
    uint32_t whole_len = 0;
    uint32_t answer_len = 0;
};
// Prefix, head and the fixed answer fields: kAnswerLead bytes.
void encode_answer_lead(unsigned char* out, uint32_t request_id, const AnswerFixed& a);
// The fixed fields of an answer frame of `n` bytes after the head; false
// unless answer_len is exactly what follows them and whole_len is at least
// answer_len.
bool decode_answer_fixed(const unsigned char* p, std::size_t n, AnswerFixed* out);

struct Welcome {
    int32_t result = 0;
    uint32_t session = 0;
    unsigned char token[kTokenSize] = {};
};
std::vector<unsigned char> encode_welcome(uint32_t request_id, const Welcome& w);
bool decode_welcome(const unsigned char* p, std::size_t n, Welcome* out);

std::vector<unsigned char> encode_login(uint32_t request_id, const unsigned char login[kLoginSize]);
std::vector<unsigned char> encode_attach(uint32_t request_id, uint32_t session,
                                         const unsigned char token[kTokenSize]);
std::vector<unsigned char> encode_probe(uint32_t request_id);
std::vector<unsigned char> encode_fault(uint32_t request_id, int32_t code);
bool decode_fault(const unsigned char* p, std::size_t n, int32_t* code);

// The 112-byte login record: user char[64], password char[32], server
// char[16]. False unless each field holds its NUL inside its array.
struct LoginFields {
    std::string user, password, server;
};
bool decode_login(const unsigned char* p, std::size_t n, LoginFields* out);
bool decode_attach(const unsigned char* p, std::size_t n, uint32_t* session,
                   unsigned char token[kTokenSize]);

// Bounded reader for request and answer bodies: every read checks what is
// left and consumes nothing when it fails.
class BodyReader {
public:
    BodyReader(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}
    std::size_t remaining() const { return n_ - pos_; }
    bool at_end() const { return pos_ == n_; }
    bool i32(int32_t* v);
    bool byte(uint8_t* v);
    // A NUL-terminated string of at most max_len characters.
    bool cstr(std::string* out, std::size_t max_len);
    // The rest of the body.
    void rest(const unsigned char** p, std::size_t* n);

private:
    const unsigned char* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

// Text of a code of ours, for logs and docs; nullptr for other codes.
const char* code_name(int32_t code);

}  // namespace xsrproto
