// Request targets and forms: percent-encoding both ways.
#pragma once

#include <map>
#include <string>

namespace qz45trail {

// A query string or form body ("a=1&b=x%20y", + for a blank) as names and
// values; a name given twice keeps its last value; a % not followed by two
// hex digits stays as it is.
std::map<std::string, std::string> ParseForm(const std::string &encoded);

// Every byte but A-Z a-z 0-9 - _ . ~ as %XX.
std::string UrlEncode(const std::string &text);

// The path of a request target, and its query (after the first ?).
std::string TargetPath(const std::string &target);
std::string TargetQuery(const std::string &target);

}  // namespace qz45trail
