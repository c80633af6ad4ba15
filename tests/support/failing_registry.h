// The real registry, but for the writes and deletes a test names: those fail as a refused
// write under User Account Control does (ERROR_ACCESS_DENIED), and leave the registry as it was.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "shared/compat.h"
#include "shared/registry.h"

namespace tovra::test {

class FailingRegistry final : public Registry {
public:
    struct Call {
        HKEY root;
        std::wstring key;
        std::wstring name;  // a value's name; empty for a key's deletion
        RegistryView view;
    };

    // A write of root\key\name fails (in every view).
    void FailWrite(HKEY root, const std::wstring& key, const std::wstring& name) {
        failWrites_.push_back({root, key, name, RegistryView::Native});
    }
    // A deletion of root\key fails (in every view, or only the one given).
    void FailDelete(HKEY root, const std::wstring& key) { failDeletes_.push_back({root, key, L"", RegistryView::Native}); }
    void FailDelete(HKEY root, const std::wstring& key, RegistryView view) {
        failDeletes_.push_back({root, key, L"", view});
        viewOnly_ = true;
    }
    // Every call under the root fails.
    void FailRoot(HKEY root) { failRoots_.push_back(root); }

    LONG SetString(HKEY root, const std::wstring& section, const std::wstring& name, const std::wstring& data,
                   RegistryView view) override {
        calls.push_back({root, section, name, view});
        if (Fails(root)) return ERROR_ACCESS_DENIED;
        for (const Call& f : failWrites_) {
            if (f.root == root && compat::EqualNoCase(f.key, section) && compat::EqualNoCase(f.name, name))
                return ERROR_ACCESS_DENIED;
        }
        return SystemRegistry().SetString(root, section, name, data, view);
    }
    LONG DeleteKey(HKEY root, const std::wstring& path, RegistryView view) override {
        calls.push_back({root, path, L"", view});
        if (Fails(root)) return ERROR_ACCESS_DENIED;
        for (const Call& f : failDeletes_) {
            if (f.root == root && compat::EqualNoCase(f.key, path) && (!viewOnly_ || f.view == view))
                return ERROR_ACCESS_DENIED;
        }
        return SystemRegistry().DeleteKey(root, path, view);
    }

    std::vector<Call> calls;  // every call, in order

private:
    bool Fails(HKEY root) const {
        for (HKEY r : failRoots_) {
            if (r == root) return true;
        }
        return false;
    }
    std::vector<Call> failWrites_, failDeletes_;
    std::vector<HKEY> failRoots_;
    bool viewOnly_ = false;
};

}  // namespace tovra::test
