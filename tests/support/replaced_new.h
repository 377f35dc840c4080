// Replaces the global operator new and delete of a test program with
// malloc and free, with every allocation going through the program's own
//   void* test_allocate(std::size_t n);
// (which counts, fails on request, ...). Include it in one file per program.
#pragma once

#include <cstdlib>
#include <new>

void* test_allocate(std::size_t n);

void* operator new(std::size_t n) { return test_allocate(n); }
void* operator new[](std::size_t n) { return test_allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return test_allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
