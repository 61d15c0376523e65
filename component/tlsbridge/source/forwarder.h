#pragma once

#include <atomic>
#include <string_view>

#include "component/tlsbridge/tls_bridge_loader.h"

namespace tlsbridge::detail {

template <class>
inline constexpr bool kNotForwardable = false;

// Only a plain function type with a fixed parameter list can be forwarded:
// C variadic arguments cannot be passed on to another function. Forward the
// va_list variant of such a function instead.
template <class Function, const char* Name>
class Forwarder {
  static_assert(kNotForwardable<Function>,
                "not a function type with a fixed parameter list: cannot be forwarded");
};

// Calls the OpenSSL function named `Name`, of type Result(Args...), in the TLS
// library. The address is resolved on the first call of the process and kept:
// later calls cost one atomic load. Threads that race on the first call each
// resolve the name and store the same address. A failed resolution throws the
// loader's std::runtime_error at the call site and leaves the cache empty, so
// a later call tries again.
template <class Result, class... Args, const char* Name>
class Forwarder<Result(Args...), Name> {
 public:
  static Result Call(Args... args) {
    void* address = m_address.load(std::memory_order_acquire);
    if (!address) {
      address = TlsBridgeLoader::Instance().Resolve(Name);
      m_address.store(address, std::memory_order_release);
    }
    return reinterpret_cast<Result (*)(Args...)>(address)(args...);
  }

 private:
  static inline std::atomic<void*> m_address{nullptr};
};

}  // namespace tlsbridge::detail

#define TLSBRIDGE_DETAIL_TEXT(...) #__VA_ARGS__

#if defined(_WIN32)

// A PE image has no indirect functions. The forwarder of `name` is a
// one-instruction function under the symbol of `name` itself, which jumps
// through a constant slot holding Forwarder<decltype(::name), names::name>::Call:
// the arguments and the return address pass untouched, so the call reaches
// Call as if it had been made to it. The slot has exactly the type of the
// header's declaration, so a change of signature still changes the forwarder.
// The module's export table names only its two entry points: the forwarders
// never take OpenSSL's place for anyone else.
#define TLSBRIDGE_DETAIL_STRING(x) TLSBRIDGE_DETAIL_TEXT(x)
#define TLSBRIDGE_DETAIL_SYMBOL(name) TLSBRIDGE_DETAIL_STRING(__USER_LABEL_PREFIX__) #name
#if defined(__x86_64__)
#define TLSBRIDGE_DETAIL_JUMP_THROUGH(slot) "jmp *" slot "(%rip)"
#else
#define TLSBRIDGE_DETAIL_JUMP_THROUGH(slot) "jmp *" slot
#endif

#define TLSBRIDGE_FORWARD(name)                                                                      \
  static_assert(std::string_view(#name) == std::string_view(TLSBRIDGE_DETAIL_TEXT(name)),            \
                #name " is a macro in the OpenSSL headers: forward the function it stands for");       \
  namespace tlsbridge::detail::names {                                                               \
  inline constexpr char name[] = #name;                                                              \
  }                                                                                                  \
  extern "C" __attribute__((used)) decltype(&::name) const tlsbridge_slot_##name =                   \
      &::tlsbridge::detail::Forwarder<decltype(::name), ::tlsbridge::detail::names::name>::Call;     \
  extern "C" __attribute__((naked)) void tlsbridge_jump_##name() __asm__(TLSBRIDGE_DETAIL_SYMBOL(name)); \
  extern "C" void tlsbridge_jump_##name() {                                                          \
    __asm__(TLSBRIDGE_DETAIL_JUMP_THROUGH(TLSBRIDGE_DETAIL_SYMBOL(tlsbridge_slot_##name)));          \
  }

#else

// The dynamic linker calls a selector while it relocates the module or
// program, before any constructor or sanitizer runtime has run: it must not
// be instrumented.
#if defined(__clang__)
#define TLSBRIDGE_DETAIL_SELECTOR_ATTRIBUTES \
  __attribute__((visibility("hidden"), no_sanitize("address", "undefined", "thread", "coverage")))
#else
#define TLSBRIDGE_DETAIL_SELECTOR_ATTRIBUTES \
  __attribute__((visibility("hidden"), no_sanitize("address", "undefined", "thread")))
#endif

// Defines the function `name` of the OpenSSL headers, with C linkage, hidden
// (never exported from the module, so it cannot take the place of OpenSSL's
// own symbol in anyone else's lookup), as a forwarder to the TLS library.
//
// C++ cannot define a function through a type, so the symbol is declared with
// the type of the header's declaration, decltype(::name), and bound as an
// indirect function: its selector hands the dynamic linker
// Forwarder<decltype(::name), names::name>::Call, a function of exactly that
// type, whose name argument gives it a cache of its own.
// A change of signature in the headers changes the forwarder with it. The
// selector only takes an address; OpenSSL is not touched before the first
// call.
//
// A name that the headers define as an object-like macro would be expanded
// in decltype but not in the resolved text; the static_assert refuses it. A
// function-like macro fails at decltype.
#define TLSBRIDGE_FORWARD(name)                                                                \
  static_assert(std::string_view(#name) == std::string_view(TLSBRIDGE_DETAIL_TEXT(name)),      \
                #name " is a macro in the OpenSSL headers: forward the function it stands for"); \
  namespace tlsbridge::detail::names {                                                         \
  inline constexpr char name[] = #name;                                                        \
  }                                                                                            \
  extern "C" TLSBRIDGE_DETAIL_SELECTOR_ATTRIBUTES decltype(&::name)                            \
      tlsbridge_select_##name() noexcept {                                                     \
    return &::tlsbridge::detail::Forwarder<decltype(::name),                                   \
                                           ::tlsbridge::detail::names::name>::Call;            \
  }                                                                                            \
  extern "C" __attribute__((visibility("hidden"), ifunc("tlsbridge_select_" #name)))           \
  decltype(::name) name;

#endif
