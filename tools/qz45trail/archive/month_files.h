// A month's trail file in the archive: written whole under a name of its
// own (never over another file), hashed, and read back against the lines
// it must hold.
#pragma once

#include <functional>
#include <string>

namespace qz45trail {

// A source of lines: hands each, in order, to the function it is given.
using Lines = std::function<void(const std::function<void(const std::string &)> &)>;

// Writes the lines, each with a line feed, to "<path>.partial", then names
// it path; never over a file already there. The file's SHA-256 and size.
// False with the reason.
bool WriteLines(const std::string &path, const Lines &lines, std::string *sha256,
                unsigned long long *bytes, std::string *why);

// Whether the file at path holds exactly the lines, each with a line feed,
// and nothing else; its SHA-256 besides. False with the reason when it
// cannot be read, or (same false) where it first differs.
bool SameLines(const std::string &path, const Lines &lines, bool *same, std::string *sha256,
               std::string *why);

// A folder and what is in it, made when missing.
bool MakeFolder(const std::string &folder, std::string *why);

// An empty file at path, unless a file is there (then left as it is).
bool MakeEmptyFile(const std::string &path, std::string *why);

}  // namespace qz45trail
