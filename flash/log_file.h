// The run log's file: text appended in blocks, bounded in size by rolling over to one older
// file, and the program's Windows-1251 texts turned into UTF-8 for it.
#pragma once

#include <cstdint>
#include <string>

// Windows-1251 bytes to UTF-8 (ASCII unchanged; 0x98, unassigned, becomes U+FFFD).
std::string Cp1251ToUtf8(const std::string& text);

// Appends `text` to `path` (created when missing). When the file would then exceed `maxBytes`,
// the file is first moved over `older` (replacing it) and `text` starts a new file. False when
// nothing could be written; never throws.
bool AppendBounded(const std::string& path, const std::string& older, const std::string& text,
                   uint64_t maxBytes);
