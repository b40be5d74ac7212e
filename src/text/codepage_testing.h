// Lets tests run the code-page conversions as on another system.
#pragma once

#include <string_view>

namespace pinemail {

// Makes the conversions behave as if the system's code page were
// `name_or_number` ("932", "CP932", "UTF-8", "65001", "C", "1252" ...),
// until reset.
void SetSystemCodePageForTesting(std::string_view name_or_number);

// Returns to the system's own code page.
void ResetSystemCodePageForTesting();

}  // namespace pinemail
