// Linked into every target of the AddressSanitizer build: the defaults the
// sanitizer runtime reads before main, so that a test, the host program and
// the sink run alike however they are started.
//
// intercept_tls_get_addr=0: the runtime's hook on __tls_get_addr (GCC up to
// 13, LLVM up to 16) takes a thread_local block of a dlopen'ed library whose
// address is 16 past a page boundary for a block with an old glibc header,
// and reads a start and a size from the two words before it. The leak check
// at exit then scans that made-up range and dies ("Tracer caught signal 11"),
// by chance, whenever the module's thread_local block lands there. The blocks
// stay reachable through the thread's own descriptor, so the check loses
// nothing by the hook being off.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
