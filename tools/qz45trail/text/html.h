// Text for HTML: content and quoted attribute values.
#pragma once

#include <string>

namespace qz45trail {

// The text with & < > " and ' as character references: safe as HTML content
// and inside a quoted attribute value.
std::string Html(const std::string &text);

}  // namespace qz45trail
