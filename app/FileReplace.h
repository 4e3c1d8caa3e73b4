// Replacing a file the way users expect of their tools: a symbolic link's target
// is replaced rather than the link, the replacement keeps the mode, owner and
// group of the file it replaces, a read-only file is refused, and the temporary
// file never outlives the process, even when a signal ends it.
#pragma once
#include <string>

namespace korvid {

// The file a chain of symbolic links ends at (the name itself when it is none).
// Throws KorvidError for a loop.
std::string FollowLinks(const std::string& fileName);
// The file (followed through links) exists and this user may not write it, or
// nobody may: root could, but the owner plainly asked for it to stay as it is.
bool IsReadOnly(const std::string& fileName);
// Throws KorvidError naming the file, leaving it as it was.
void ReplaceFile(const std::string& fileName, const std::string& content);
// Makes ReplaceFile the way every file of the run is written.
void UseFaithfulReplace();

}  // namespace korvid
