// The recording XSRClient.dll under Windows: a trace that is a reparse point
// (a symbolic link) or a folder is refused with one line on stderr and the
// calls go on unrecorded; a new trace is written; node passwords of a
// cluster add are masked unless ORQ_XSR_TRACE_SECRETS=1. The recorder reads
// its settings when it is loaded, so each case loads it afresh.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "xsr/double/xsr_double.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

namespace {

using CommandFn = int32_t(XSR_CALL*)(int32_t, int32_t, int32_t, int32_t, void*, int32_t*, const void*, int32_t,
                                     int32_t, const void*, int32_t, int32_t, const void*, int32_t);

const std::string kHeader11("\x0b\x00\xf5\x01\xff\xff\xff\xff\x10\x00\x00\x00\xff\xff\xff\xff", 16);

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string temp(const std::string& name) {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "orq_rec_" + name;
}

std::string own_folder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

struct Outcome {
    int32_t rc = -1;
    std::string err;
};

// Loads the recorder with the trace and secrets given, sends one cluster add
// through it to the double, and unloads it.
Outcome through_recorder(const std::string& trace, const char* secrets, const std::string& body) {
    _putenv_s("ORQ_XSR_TRACE", trace.c_str());
    _putenv_s("ORQ_XSR_REAL", (own_folder() + "XSRClient.dll").c_str());
    _putenv_s("ORQ_XSR_TRACE_SECRETS", secrets);
    Outcome run;
    testing::internal::CaptureStderr();
    HMODULE lib = LoadLibraryA(ORQ_RECORDER_DLL);
    if (lib) {
        auto command = reinterpret_cast<CommandFn>(reinterpret_cast<void*>(GetProcAddress(lib, "XSR_CommandEx")));
        xsrdouble::reset();
        char buf[64] = {};
        int32_t len = sizeof buf;
        if (command)
            run.rc = command(1001, 32639, 0, 45000, buf, &len, kHeader11.data(), 16, 0, body.data(),
                             static_cast<int32_t>(body.size()), 0, nullptr, 0);
        FreeLibrary(lib);
    }
    std::fflush(stderr);
    run.err = testing::internal::GetCapturedStderr();
    return run;
}

std::string add_body(const std::string& password) {
    const std::string z(1, '\0');
    const std::string one("\x01\x00\x00\x00", 4), port("\x94\x1c\x00\x00", 4);
    return one + "C" + z + "t" + z + z + one + "h1" + z + port + "admin" + z + password + z + "attr" + z;
}

TEST(WindowsRecorder, ATraceThatIsALinkOrAFolderIsRefused) {
    const std::string target = temp("target.txt"), link = temp("link.xt"), folder = temp("folder.xt");
    DeleteFileA(link.c_str());
    RemoveDirectoryA(folder.c_str());
    std::ofstream(target, std::ios::binary | std::ios::trunc) << "a line of another file\n";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    struct Case {
        const char* what;
        std::string path;
        const char* report;
    } cases[] = {{"a folder", folder, "is not written"}, {"a symbolic link", link, "it is a reparse point"}};
    // Wine may report success and make no reparse point: the case then says
    // so and is not run.
    const bool linked = CreateSymbolicLinkA(link.c_str(), target.c_str(), 0) != 0 &&
                        GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
                        (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path == link && !linked) {
            std::printf("no symbolic link (reparse point) can be made here: that case is not run\n");
            continue;
        }
        const Outcome run = through_recorder(c.path, "", add_body("pw"));
        EXPECT_EQ(run.rc, 0) << "the call goes on";
        EXPECT_NE(run.err.find(c.report), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("calls go on unrecorded"), std::string::npos) << run.err;
        EXPECT_EQ(read_all(target), "a line of another file\n") << "the link's target is untouched";
    }
    DeleteFileA(link.c_str());
    DeleteFileA(target.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(WindowsRecorder, NodePasswordsAreMaskedUnlessSecretsAreAskedFor) {
    for (const char* secrets : {"", "1"}) {
        SCOPED_TRACE(*secrets ? "ORQ_XSR_TRACE_SECRETS=1" : "masked");
        const std::string trace = temp("masked.xt");
        DeleteFileA(trace.c_str());
        const Outcome run = through_recorder(trace, secrets, add_body("pw-secret"));
        EXPECT_EQ(run.rc, 0);
        EXPECT_EQ(run.err, "");
        const std::string text = read_all(trace);
        EXPECT_EQ(text.find(xsrtrace::to_hex("pw-secret")) != std::string::npos, *secrets != '\0') << text;
        if (!*secrets) {
            EXPECT_NE(text.find(xsrtrace::to_hex("*********")), std::string::npos) << text;
        }
        DeleteFileA(trace.c_str());
    }
}

}  // namespace
