#pragma once
// One form for a host name wherever it is matched or filed: "Ads.Example."
// and "ads.example" are one host.

#include <string>
#include <string_view>

namespace vantrel {

// Without the one final dot that marks a name as fully qualified. A lone
// "." stays as it is: there is no name to shorten.
std::string_view WithoutFinalDot(std::string_view name);

// The name in lower case, without its final dot.
std::string HostKey(std::string_view name);

}  // namespace vantrel
