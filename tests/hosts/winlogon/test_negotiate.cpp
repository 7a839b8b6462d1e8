// Loading the GINA and negotiating the interface version with Winlogon and msgina.
#include <set>

#include "fixture.h"

namespace host {
namespace {

std::set<std::string> ExportedNames(HMODULE m) {
    std::set<std::string> names;
    const BYTE* base = reinterpret_cast<const BYTE*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress) return names;
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto rvas = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + rvas[i]));
    return names;
}

// Winlogon finds the entry points by their plain names; the product exports those and nothing else.
TEST(GatehookExports, ProductExportsTheEighteenPlainNames) {
    HMODULE m = LoadLibraryW(ts::InExeDir(L"Gatehook.dll").c_str());
    ASSERT_TRUE(m) << GetLastError();
    std::set<std::string> expected(kWlxNames, kWlxNames + 18);
    EXPECT_EQ(ExportedNames(m), expected);
    HMODULE t = LoadLibraryW(ts::InExeDir(L"GatehookTest.dll").c_str());
    ASSERT_TRUE(t) << GetLastError();
    expected.insert("GatehookTestSeams");
    EXPECT_EQ(ExportedNames(t), expected) << "the test build adds its seam table only";
}

struct NegotiationCase {
    const char* name;
    const wchar_t* variant;
    DWORD winlogon;  // what Winlogon offers
    DWORD answer;    // what msgina answers (0: its default)
    bool ok;
    DWORD offered;   // what msgina is offered
    DWORD reported;  // what Winlogon is told
};
// Named in test output by its case name.
void PrintTo(const NegotiationCase& c, std::ostream* os) { *os << c.name; }

const NegotiationCase kNegotiations[] = {
    {"Winlogon14", L"full", 0x10004, 0, true, 0x10003, 0x10003},
    {"Winlogon12", L"full", 0x10002, 0, true, 0x10002, 0x10002},
    {"Winlogon10", L"full", 0x10000, 0, true, 0x10000, 0x10000},
    {"MsginaAnswers10", L"full", 0x10004, 0x10000, true, 0x10003, 0x10000},
    {"MsginaAnswers12", L"full", 0x10004, 0x10002, true, 0x10003, 0x10002},
    {"MsginaAnswersAboveTheOffer", L"full", 0x10002, 0x10004, true, 0x10002, 0x10002},
    {"MsginaAnswersBelow10", L"full", 0x10004, 0x00009, false, 0x10003, 0},
    {"BaseOnlyMsgina", L"base", 0x10004, 0, true, 0x10003, 0x10000},
    {"MsginaWithoutShutdown", L"noshutdown", 0x10004, 0, false, 0x10003, 0},
    {"Msgina13WithoutRemoveStatusMessage", L"v13noremove", 0x10004, 0, false, 0x10003, 0},
    {"Msgina13WithoutRemoveStatusMessageAt12", L"v13noremove", 0x10002, 0, true, 0x10002, 0x10002},
    {"MsginaNegotiateFails", L"negfail", 0x10004, 0, false, 0x10003, 0},
};

class GatehookNegotiation : public GatehookHost, public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(GatehookNegotiation, OffersAtMost13AndReportsWhatWasBound) {
    const NegotiationCase& c = GetParam();
    ASSERT_TRUE(W.Load(c.variant));
    if (c.answer) W.standin->answerVersion = c.answer;
    DWORD reported = 0xFFFFFFFF;
    EXPECT_EQ(W.Negotiate(c.winlogon, &reported) != FALSE, c.ok);
    auto calls = W.CallsOf(SE_Negotiate);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0], c.offered);
    EXPECT_EQ(reported, c.ok ? c.reported : 0xFFFFFFFF) << "a failed negotiation reports nothing";
    if (c.ok) return;

    // Winlogon refuses the GINA now; should it call in anyway, nothing may reach msgina or crash.
    EXPECT_FALSE(W.Initialize());
    BOOL secure = TRUE;
    EXPECT_FALSE(W.wlx.IsLockOk(nullptr));
    EXPECT_FALSE(W.wlx.ScreenSaverNotify(nullptr, &secure));
    EXPECT_FALSE(W.wlx.RemoveStatusMessage(nullptr));
    EXPECT_EQ(W.wlx.LoggedOnSAS(nullptr, WLX_SAS_TYPE_SCRNSVR_TIMEOUT, nullptr), WLX_SAS_ACTION_NONE);
    W.wlx.DisplaySASNotice(nullptr);
    W.wlx.Shutdown(nullptr, WLX_SAS_ACTION_SHUTDOWN);
    EXPECT_EQ(W.standin->callCount, 1) << "only WlxNegotiate reached msgina";
}

INSTANTIATE_TEST_SUITE_P(Winlogon, GatehookNegotiation, ::testing::ValuesIn(kNegotiations),
                         [](const ::testing::TestParamInfo<NegotiationCase>& i) { return std::string(i.param.name); });

TEST_F(GatehookHost, NegotiateWithoutAnOutputIsRefused) {
    ASSERT_TRUE(W.Load(L"full"));
    EXPECT_FALSE(W.Negotiate(WLX_VERSION_1_4, nullptr));
}

}  // namespace
}  // namespace host
