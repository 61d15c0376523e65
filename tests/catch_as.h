#pragma once

#include <optional>

// The exception `action` raises when it is an `E`; other exceptions reach the
// test and fail it. The copy is an `E` alone: what the thrown one nests is
// not in it, so a test that reads the nested chain catches in place.
template <class E, class F>
std::optional<E> CatchAs(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}
