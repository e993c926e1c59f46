// plc.ini on any bytes: the values never hold a CR or LF, nor start or end with a space.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PlcConfig config = ParsePlcIni(std::string(reinterpret_cast<const char*>(data), size));
    for (const std::string* value : {&config.device, &config.version}) {
        if (value->find_first_of("\r\n") != std::string::npos) std::abort();
        if (!value->empty() && (value->front() == ' ' || value->back() == ' ')) std::abort();
    }
    return 0;
}
