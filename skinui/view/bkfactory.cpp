// The element factory: each class's create-if-tag, tried in a fixed order; the first that knows
// the tag makes the element.
#include <string.h>

#include "bkcombo.h"
#include "bkedit.h"
#include "bkleaf.h"
#include "bkrichtext.h"
#include "bkpanel.h"
#include "bktabctrl.h"

namespace {

typedef CBkWindow* (*CreateFn)(const char* tag);

template <class T>
CBkWindow* Create(const char* tag) {
    return T::CreateIfTag(tag);
}

// "div" and "tab" are not here: a div is skipped, a tab belongs only directly inside a tabctrl.
const CreateFn kFactory[] = {
    &Create<CBkDialog>,      &Create<CBkDialogFile>,    &Create<CBkStatic>,      &Create<CBkButton>,
    &Create<CBkImageWnd>,    &Create<CBkProgress>,      &Create<CBkImageBtnWnd>, &Create<CBkRealWnd>,
    &Create<CBkLine>,        &Create<CBkCheckBox>,      &Create<CBkIconWnd>,     &Create<CBkTabCtrl>,
    &Create<CBkRadioBox>,    &Create<CBkRichText>,     &Create<CBkLink>,        &Create<CBkMemoryImage>,
    &Create<CBkImageListHWnd>, &Create<CBkEdit>,       &Create<CbkCombo>,
};

}  // namespace

CBkWindow* CBkPanel::CreateChildByTag(const char* tag) {
    if (!tag) return nullptr;
    for (CreateFn create : kFactory) {
        CBkWindow* made = create(tag);
        if (made) return made;
    }
    return nullptr;
}
