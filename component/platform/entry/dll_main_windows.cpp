// The DLL's entry point. The module does nothing when a process attaches
// beyond the language runtime's own start-up: it starts no thread and takes
// no lock under the loader's lock. It wants no call for each thread that
// starts or ends, either.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(module);
  return TRUE;
}
