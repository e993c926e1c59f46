// The minimum target version named in the kernel image, and the result page's message.
// Platform-free, so the rules are tested natively.
#pragma once

#include <string>

// The word after the first recognised "Target version" marker in `image`: spaces skipped, the
// version ended by a space; empty when there is no marker or no closing space. The scan looks
// for a "T", then takes the next 13 bytes as "arget version" and does not search them again,
// so "TTarget version" hides that occurrence.
std::string ParseTargetVersion(const std::string& image);

// ParseTargetVersion of the file at `path`; empty when it cannot be read.
std::string ReadTargetVersion(const std::string& path);

// "Прошивка контроллера " + designation + the body, and the version note when there is one.
std::string ComposeResultMessage(const std::string& device, const std::string& version);
