#include "bkobject.h"

#include <tinyxml.h>

BOOL CBkObject::Load(TiXmlElement* xml) {
    if (!xml) return FALSE;
    for (const TiXmlAttribute* a = xml->FirstAttribute(); a; a = a->Next())
        SetAttribute(a->Name() ? a->Name() : "", a->Value() ? a->Value() : "", TRUE);
    return TRUE;
}

HRESULT CBkObject::SetAttribute(const std::string&, const std::string&, BOOL) { return E_FAIL; }
