// utovraa: writes the built-in virus list into the product folder.
#include <windows.h>

#include "listwriter/list_writer_form.h"
#include "listwriter/virus_list.h"
#include "shared/compat.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tovra::compat::HardenDllSearch();
    tovra::forms::InitCommonControls();
    tovra::ListWriterForm form(tovra::suite::VirusListPath());
    if (!form.Load()) return 1;
    return tovra::forms::RunMessageLoop();
}
