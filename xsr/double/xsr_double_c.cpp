// The C interface of the scripted XSRClient double (xsrclient_double.h),
// over its C++ script and record.
#include "xsr/double/xsrclient_double.h"

#include <cstring>
#include <new>
#include <string>

#include "xsr/double/xsr_double.h"

namespace {

// The index-th XSR_CommandEx call, or false.
bool command_at(int32_t index, xsrdouble::Call* out) {
    if (index < 0) return false;
    const std::vector<xsrdouble::Call> cmds = xsrdouble::calls_of(xsrdouble::Fn::Command);
    if (static_cast<std::size_t>(index) >= cmds.size()) return false;
    *out = cmds[static_cast<std::size_t>(index)];
    return true;
}

int32_t copy_out(const std::string& bytes, void* buf, int32_t* len) {
    if (!len || *len < 0 || (*len > 0 && !buf)) return XSRDOUBLE_E_ARGUMENT;
    const int32_t capacity = *len;
    *len = static_cast<int32_t>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(capacity)) return XSRDOUBLE_E_TOO_SMALL;
    if (!bytes.empty()) std::memcpy(buf, bytes.data(), bytes.size());
    return XSRDOUBLE_OK;
}

int32_t queue(int32_t result, const void* bytes, int32_t len) {
    if (len < 0 || (len > 0 && !bytes)) return XSRDOUBLE_E_ARGUMENT;
    try {
        xsrdouble::push(xsrdouble::Reply{
            result, len ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(len)) : std::string(),
            -1});
    } catch (const std::bad_alloc&) {
        return XSRDOUBLE_E_MEMORY;
    }
    return XSRDOUBLE_OK;
}

template <typename F>
int32_t with_command(int32_t index, F f) {
    try {
        xsrdouble::Call c;
        if (!command_at(index, &c)) return XSRDOUBLE_E_NO_CALL;
        return f(c);
    } catch (const std::bad_alloc&) {
        return XSRDOUBLE_E_MEMORY;
    }
}

}  // namespace

extern "C" {

XSRDOUBLE_API int32_t XSRDouble_ApiLevel(void) { return XSRDOUBLE_API_LEVEL; }

XSRDOUBLE_API void XSRDouble_Reset(void) { xsrdouble::reset(); }

XSRDOUBLE_API int32_t XSRDouble_QueueAnswer(int32_t result, const void* bytes, int32_t len) {
    return queue(result, bytes, len);
}

XSRDOUBLE_API int32_t XSRDouble_QueuePending(int32_t ticket0, int32_t ticket1) {
    try {
        xsrdouble::push(xsrdouble::pending(ticket0, ticket1));
    } catch (const std::bad_alloc&) {
        return XSRDOUBLE_E_MEMORY;
    }
    return XSRDOUBLE_OK;
}

XSRDOUBLE_API int32_t XSRDouble_QueuePart(const void* bytes, int32_t len) {
    return queue(-1108, bytes, len);
}

XSRDOUBLE_API int32_t XSRDouble_QueuedCount(void) {
    return static_cast<int32_t>(xsrdouble::queued());
}

XSRDOUBLE_API int32_t XSRDouble_SetOpenResult(const char* server, int32_t result) {
    if (!server) return XSRDOUBLE_E_ARGUMENT;
    try {
        xsrdouble::set_open_result(server, result);
    } catch (const std::bad_alloc&) {
        return XSRDOUBLE_E_MEMORY;
    }
    return XSRDOUBLE_OK;
}

XSRDOUBLE_API int32_t XSRDouble_CommandCount(void) {
    try {
        return static_cast<int32_t>(xsrdouble::count(xsrdouble::Fn::Command));
    } catch (const std::bad_alloc&) {
        return XSRDOUBLE_E_MEMORY;
    }
}

XSRDOUBLE_API int32_t XSRDouble_CommandCode(int32_t index) {
    return with_command(index, [](const xsrdouble::Call& c) { return static_cast<int32_t>(c.code()); });
}

XSRDOUBLE_API int32_t XSRDouble_CommandHandle(int32_t index) {
    return with_command(index, [](const xsrdouble::Call& c) { return c.handle; });
}

XSRDOUBLE_API int32_t XSRDouble_CommandHeader(int32_t index, void* buf, int32_t* len) {
    return with_command(index, [&](const xsrdouble::Call& c) { return copy_out(c.header, buf, len); });
}

XSRDOUBLE_API int32_t XSRDouble_CommandBody(int32_t index, void* buf, int32_t* len) {
    return with_command(index, [&](const xsrdouble::Call& c) { return copy_out(c.body, buf, len); });
}

}  // extern "C"
