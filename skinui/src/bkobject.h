// Anything that loads itself from one XML element: styles, skins, elements.
#pragma once

#include <windows.h>

#include <string>

class TiXmlElement;

class CBkObject {
public:
    virtual ~CBkObject() {}
    // TRUE when the text is the class's tag (exact).
    virtual BOOL IsTag(const char* tag) const = 0;
    virtual const char* TagName() const = 0;
    // Applies every attribute of the element through SetAttribute, in document order.
    virtual BOOL Load(TiXmlElement* xml);
    // S_OK handled (the size may change), S_FALSE handled (only the look changes), E_FAIL not known.
    // A derived class asks its base first and looks at the name itself when the base fails.
    virtual HRESULT SetAttribute(const std::string& name, const std::string& value, BOOL loading);
};
