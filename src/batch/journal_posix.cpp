// The journal's rule for file names on POSIX.
#include "batch/journal.h"

namespace pinemail {

// POSIX file systems tell names apart by case: "List.txt" beside "list.txt"
// is another list.
bool SameFileName(std::string_view a, std::string_view b) { return a == b; }

}  // namespace pinemail
