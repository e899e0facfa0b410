// The methods of the page class that `oapx1 call` can invoke by name: the one
// place a method is registered. Every method declared on Page has a row here;
// a test compares the two.
#ifndef OAPX1_CLI_METHOD_TABLE_H_
#define OAPX1_CLI_METHOD_TABLE_H_

#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/page.h"

namespace oapx1 {

struct MethodEntry {
  std::string_view name;  // the method's name, exactly as the class names it
  int argc;               // how many arguments it takes
  // Calls it on a page with exactly argc arguments; by-reference arguments
  // come back changed. Methods without a result give empty.
  Variant (*invoke)(Page& page, std::vector<Variant>& args);
};

// Every callable method, in a stable order.
const std::vector<MethodEntry>& method_table();
// The entry of that name (exact case), or null.
const MethodEntry* find_method(std::string_view name);

namespace detail {

template <class C, class R, class... A>
constexpr int arity(R (C::*)(A...)) {
  return static_cast<int>(sizeof...(A));
}

template <auto M, size_t... I>
Variant call_with(Page& page, std::vector<Variant>& args, std::index_sequence<I...>) {
  if constexpr (std::is_void_v<decltype((page.*M)(args[I]...))>) {
    (page.*M)(args[I]...);
    return Variant();
  } else {
    return (page.*M)(args[I]...);
  }
}

}  // namespace detail
}  // namespace oapx1

// One table row for a method of the page class.
#define OAPX1_METHOD(name)                                                                   \
  ::oapx1::MethodEntry {                                                                     \
    #name, ::oapx1::detail::arity(&::oapx1::Page::name),                                     \
        [](::oapx1::Page& page, std::vector<::oapx1::Variant>& args) {                       \
          return ::oapx1::detail::call_with<&::oapx1::Page::name>(                           \
              page, args,                                                                    \
              std::make_index_sequence<static_cast<size_t>(                                  \
                  ::oapx1::detail::arity(&::oapx1::Page::name))>{});                         \
        }                                                                                    \
  }

#endif  // OAPX1_CLI_METHOD_TABLE_H_
