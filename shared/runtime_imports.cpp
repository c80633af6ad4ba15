// Linked into every program: the MinGW runtime libraries refer to a few functions that Windows XP
// lacks. Each such import is answered here by a pointer of our own, so the linker takes it instead
// of the DLL import and the program loads on XP (the build's import check proves it).
#if defined(__MINGW32__)

#include <windows.h>

#include "shared/compat.h"

namespace {

// libwinpthread's timed waits (misc.o: _pthread_wait_for_single_object and ..._multiple_objects)
// read the 64-bit tick count, which kernel32 exports only from Windows Vista on.
ULONGLONG WINAPI TickCount64ForRuntime() { return tovra::compat::TickCount64(); }

}  // namespace

// The import pointers by their linker names: the i686 names carry the stdcall decoration.
#if defined(_WIN64)
#define TOVRA_IMPORT_NAME(fn, args) "__imp_" #fn
#else
#define TOVRA_IMPORT_NAME(fn, args) "__imp__" #fn "@" #args
#endif

extern "C" {
using TickCountFn = ULONGLONG(WINAPI*)();
extern TickCountFn const tovraImpGetTickCount64 __asm__(TOVRA_IMPORT_NAME(GetTickCount64, 0));
TickCountFn const tovraImpGetTickCount64 = &TickCount64ForRuntime;
}

#endif  // __MINGW32__
