// The identity file reader on any bytes: it must stay inside its buffers, and a file it writes
// must read back as what was written.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "identity/identity_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    IdentityReading reading;
    if (ParseIdentity(content, size % 2 == 0, &reading) && size % 2 == 0) {
        // Fields taken from a file are two characters each: written and read back, they stay.
        IdentityReading again;
        const std::string text = ComposeIdentity(reading.mac, DottedIp(reading.ip));
        bool hex = true;
        for (const auto& field : reading.mac) {
            for (char c : field) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
        }
        if (hex && (!ParseIdentity(text, true, &again) || again.mac != reading.mac ||
                    again.ip != reading.ip)) {
            std::abort();
        }
    }
    return 0;
}
