// Two pages, the second unreadable, for tests that prove a read stops where
// it must: memory placed to end at the first page's last byte faults any read
// past it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace testing_support {

// A page is a multiple of 16 bytes, so a 16-byte block read past the end is
// caught too.
class GuardedPage {
public:
    GuardedPage() {
#if defined(_WIN32)
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        ok_ = base_ && VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
#else
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* p = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
        ok_ = base_ && mprotect(base_ + page_, page_, PROT_NONE) == 0;
#endif
    }
    ~GuardedPage() {
#if defined(_WIN32)
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
        if (base_) munmap(base_, 2 * page_);
#endif
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool ok() const { return ok_; }
    // The bytes copied so that the last one is the page's last byte.
    const char* at_end(const std::string& bytes) {
        char* p = base_ + page_ - bytes.size();
        std::memcpy(p, bytes.data(), bytes.size());
        return p;
    }

private:
    std::size_t page_ = 0;
    char* base_ = nullptr;
    bool ok_ = false;
};

}  // namespace testing_support
