// "application/x-www-form-urlencoded" both ways (form_encoding.cpp).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pinemail {

// The form text of `fields`: each byte but letters, digits and "-._~" as
// "%XX", a blank as "+".
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

// The fields of a query ("a=b&c"), "+" and "%XX" decoded; a name without
// "=" has an empty value.
std::map<std::string, std::string> ReadQuery(std::string_view query);

}  // namespace pinemail
