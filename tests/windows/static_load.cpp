// The unit tests link the library's objects straight into the test program,
// where the DLL entry point never runs. This does its work instead: load the
// process-wide state before main and unload it at exit, as the constructor
// and destructor in core/lifecycle.cpp do on POSIX.
#include "core/lifecycle.h"

__attribute__((constructor)) static void orq_static_load() { orq::lifecycle::load(); }
__attribute__((destructor)) static void orq_static_unload() { orq::lifecycle::unload(); }
