// The key tile's eight fields: the table the provider hands out and the tile copies.
#pragma once

#include <credentialprovider.h>

namespace logontile {

enum FIELD_ID : DWORD {
    SFI_TILEIMAGE = 0,
    SFI_USERNAME = 1,
    SFI_PASSWORD = 2,
    SFI_TITLE = 3,
    SFI_STATUS = 4,
    SFI_LOCKMESSAGE = 5,
    SFI_SUBMIT_BUTTON = 6,
    SFI_COMMAND_LINK = 7,
    SFI_NUM_FIELDS = 8,
};

struct FIELD_STATE_PAIR {
    CREDENTIAL_PROVIDER_FIELD_STATE cpfs;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis;
};

// Labels point into static storage: hand out copies only (CoAllocCopyFieldDescriptor,
// CopyFieldDescriptor), never these descriptors.
extern const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR s_rgCredProvFieldDescriptors[SFI_NUM_FIELDS];
extern const FIELD_STATE_PAIR s_rgFieldStatePairs[SFI_NUM_FIELDS];

}  // namespace logontile
