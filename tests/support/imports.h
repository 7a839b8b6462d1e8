// Replacing one imported function of a loaded module, for tests that must see what a module hands to a
// system call whose effect Wine does not keep (the event log, for one).
#pragma once

#include <windows.h>

namespace ts {

// Points the module's import of dll!function at replacement; returns the previous target, or null when
// the module does not import it. The caller puts the previous target back (ImportPatch does).
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Patches for the lifetime of the object and restores the import afterwards.
class ImportPatch {
  public:
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement)
        : module_(module), dll_(dll), function_(function),
          previous_(PatchImport(module, dll, function, replacement)) {}
    ~ImportPatch() {
        if (previous_) PatchImport(module_, dll_, function_, previous_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool ok() const { return previous_ != nullptr; }
    void* previous() const { return previous_; }

  private:
    HMODULE module_;
    const char* dll_;
    const char* function_;
    void* previous_;
};

}  // namespace ts
