#pragma once
// Pieces of the engine's error texts. The texts are Russian in UTF-8, the
// encoding the file system spells the paths in; values and field names are
// Windows-1251 bytes and are converted as they go in, so that every message
// is valid UTF-8 as a whole and shows right in the error box.
#include <string>
#include <string_view>

namespace storage {

// «text» for a value or a name in Windows-1251.
std::string quotedText(std::string_view text);
// «path» for a path as the file system spells it; a byte that is not UTF-8
// shows as U+FFFD.
std::string quotedPath(std::string_view path);

}  // namespace storage
