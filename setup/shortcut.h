// The medium's prepared shortcuts name the classic product folder. Where the programs go
// elsewhere (a 32-bit installer on 64-bit Windows, a localized Windows, another drive), a copied
// shortcut is pointed at the installed file of the same name.
#pragma once
#include <string>

namespace tovra::setup {

// Points the shell link at `folder`\<the name of the file it names>, working in `folder`; a
// link that already names a file there is left as it is. False when the file is no shell link
// or could not be saved.
bool PointShortcutInto(const std::wstring& link, const std::wstring& folder);

}  // namespace tovra::setup
