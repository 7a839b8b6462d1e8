// Serves the skin tables from files of a temporary skin folder (the loader reads the folder first),
// so that each test can hand the loaders the XML it needs.
#pragma once

#include <string>

#include "bkres.h"
#include "testsupport.h"

class SkinFolder {
public:
    SkinFolder() : dir_(ts::MakeTempDir(L"skinui")) { BkResourceLoader::Instance().m_skinFolder = dir_; }
    ~SkinFolder() {
        BkResourceLoader::Instance().m_skinFolder.clear();
        ts::RemoveTree(dir_);
    }
    // Writes "<id>.<type>" with these bytes.
    bool Put(unsigned id, const std::wstring& type, const std::string& bytes) const {
        return ts::WriteFileBytes(Path(id, type), bytes);
    }
    void Remove(unsigned id, const std::wstring& type) const { DeleteFileW(Path(id, type).c_str()); }
    std::wstring Path(unsigned id, const std::wstring& type) const {
        return dir_ + L"\\" + std::to_wstring(id) + L"." + type;
    }
    const std::wstring& dir() const { return dir_; }

private:
    std::wstring dir_;
};
