// The end-user licence agreement shown by the installer: one HTML document, p for paragraphs
// and br for lines.
#pragma once
#include <string>

namespace tovra::setup {

const std::wstring& LicenceHtml();

}  // namespace tovra::setup
