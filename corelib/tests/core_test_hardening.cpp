// No exception leaves Corelib's PowerOn.Log writers, which run inside other programs' calls. On the
// 32-bit build a log near 2 GB makes the string operations throw std::length_error; here the read of
// the old log is replaced to throw what they throw.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "classkeys.h"
#include "corelib.h"
#include "testsupport.h"
#include "trace_internal.h"

namespace {

using ts::kClassKey;
using ts::kInprocKey;
const std::string kOldLog = "2012年03月04日 08:09:10/someone/earlier/\r\n";

bool ThrowLengthError(const wchar_t*, std::string*, bool*) { throw std::length_error("basic_string::_M_create"); }
bool ThrowRuntimeError(const wchar_t*, std::string*, bool*) { throw std::runtime_error("any other"); }

TEST(HardeningExports, PowerOnLogWritersLetNoExceptionOut) {
    // PowerOn.Log lies beside the registered logon module: a folder of this test's own.
    std::wstring dir = ts::MakeTempDir(L"hardening");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(ts::SetString(HKEY_CLASSES_ROOT, kInprocKey, L"", dir + L"\\Logontile.dll"));
    const std::wstring log = dir + L"\\PowerOn.Log";
    ASSERT_TRUE(ts::WriteFileBytes(log, kOldLog));

    const corelib::TraceSeams saved = corelib::g_traceSeams;
    const struct {
        const char* what;
        bool (*read)(const wchar_t*, std::string*, bool*);
    } throwers[] = {{"length_error", ThrowLengthError}, {"runtime_error", ThrowRuntimeError}};
    for (const auto& t : throwers) {
        SCOPED_TRACE(t.what);
        corelib::g_traceSeams.ReadWholeFile = t.read;
        BOOL two = TRUE, one = TRUE;
        EXPECT_NO_THROW(two = WirteLog2("someone", "message"));
        EXPECT_NO_THROW(one = WirteLog1("message"));
        EXPECT_FALSE(two);
        EXPECT_FALSE(one);
        EXPECT_EQ(ts::ReadFileBytes(log), kOldLog) << "the log was changed";
    }
    corelib::g_traceSeams = saved;

    // The real read still works.
    EXPECT_TRUE(WirteLog2("someone", "later"));
    EXPECT_NE(ts::ReadFileBytes(log).find("/someone/later/\r\n"), std::string::npos);
    ts::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    ts::RemoveTree(dir);
}

}  // namespace
