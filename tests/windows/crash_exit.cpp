// Linked into every Windows test program: a crash ends the program at once
// with a failing exit code. Left alone, Wine starts its debugger on an
// unhandled exception, prints a backtrace and may leave exit code 0, so a
// crashed test program could count as passed.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "test program crashed: exception 0x%08lx at %p\n",
                 static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode),
                 e->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((constructor)) void install_crash_exit() {
    SetUnhandledExceptionFilter(on_unhandled_exception);
}

}  // namespace
