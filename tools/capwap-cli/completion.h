// Tab completion from the daemon's own help: the line up to the cursor is
// sent with "?" appended, and the keywords of the answer ("  word  help")
// are the candidates. Placeholders (WORD, <1-32>, A.B.C.D, ...) and "<cr>"
// are not words one can complete to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace capwap_cli {

// The help query for a line typed up to the cursor: the line with "?".
std::string HelpQuery(std::string_view line_to_cursor);
// The keywords listed in the daemon's answer to a help query, in its order.
std::vector<std::string> HelpKeywords(std::string_view answer);

}  // namespace capwap_cli
