#include "fields.h"

namespace logontile {

namespace {
constexpr LPWSTR Label(const wchar_t* text) { return const_cast<LPWSTR>(text); }
constexpr GUID kNoRole = {};  // GUID_NULL: no field has a system-defined role
}  // namespace

const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR s_rgCredProvFieldDescriptors[SFI_NUM_FIELDS] = {
    {SFI_TILEIMAGE, CPFT_TILE_IMAGE, Label(L"Image"), kNoRole},
    {SFI_USERNAME, CPFT_LARGE_TEXT, Label(L"Username"), kNoRole},
    {SFI_PASSWORD, CPFT_PASSWORD_TEXT, Label(L"Password"), kNoRole},
    {SFI_TITLE, CPFT_LARGE_TEXT, Label(L"Quoreltitle"), kNoRole},
    {SFI_STATUS, CPFT_SMALL_TEXT, Label(L"SmallText"), kNoRole},
    {SFI_LOCKMESSAGE, CPFT_SMALL_TEXT, Label(L"SmallText"), kNoRole},
    {SFI_SUBMIT_BUTTON, CPFT_SUBMIT_BUTTON, Label(L"Submit"), kNoRole},
    {SFI_COMMAND_LINK, CPFT_COMMAND_LINK, Label(L"CommandLink"), kNoRole},
};

const FIELD_STATE_PAIR s_rgFieldStatePairs[SFI_NUM_FIELDS] = {
    {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},  // tile picture
    {CPFS_HIDDEN, CPFIS_NONE},           // user name
    {CPFS_HIDDEN, CPFIS_FOCUSED},        // password
    {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},  // title
    {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},  // status line
    {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},  // lock-screen text
    {CPFS_DISPLAY_IN_BOTH, CPFIS_NONE},  // submit button
    {CPFS_HIDDEN, CPFIS_NONE},           // emergency link: always hidden
};

}  // namespace logontile
