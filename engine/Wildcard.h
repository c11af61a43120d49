// The name matcher of the search box and of restovo-cli restore --match.
#pragma once

#include <string_view>

namespace restovo {

// "*" any run of characters, "?" one character, anything else itself; ASCII letters match
// either case; the whole name must match. A "?" right after a "*" is taken at once and not
// retried, so "*?AB" does not match "ZAAB".
bool MatchWildcard(std::string_view pattern, std::string_view name);

}  // namespace restovo
