// The TLS library that the component loads at run time. It carries no code of
// its own: it is linked against OpenSSL, which stays among its needed
// libraries, so that looking a name up in its handle finds OpenSSL's function
// of that name. Installing another build of it, next to the component or in
// the directory "tlsbridge.config" names, changes the OpenSSL the component
// uses without relinking the component.

#if defined(_WIN32)
#define TLSBRIDGE_EXPORTED  // exported through the library's module definition file
#else
#define TLSBRIDGE_EXPORTED __attribute__((visibility("default")))
#endif

// Lets a person (or a script) tell the bridge library from any other file of
// that name: nm -D shows it.
extern "C" TLSBRIDGE_EXPORTED int tlsbridge_1_1_bridge() { return 1; }
