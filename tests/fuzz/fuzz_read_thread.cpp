// A fuzzed controller answers the identity reader: whatever it sends, the reader must end
// (ReadBytes raises 5 once the input is used up), stay inside its buffers, and never leave a
// partial copy behind.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fakes.h"
#include "fuzz_line.h"
#include "identity/read_thread.h"

namespace {

struct Ui final : IReaderUi {
    std::string GetSelectedPortText() override { return "COM1"; }
    void ReportIdentity(bool, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is the controller's side of the line, cut into reads: a length byte, then
    // that many bytes; a length of 0 is a read that times out with nothing.
    PortScript script;
    size_t at = 0;
    while (at < size) {
        const size_t n = data[at++];
        const size_t take = std::min(n, size - at);
        script.reads.push_back(
            {std::string(reinterpret_cast<const char*>(data + at), take), false});
        at += take;
    }
    ScriptedDriver driver(script);
    FakeClock clock;
    Ui ui;
    CReadThread reader(ui, driver, clock);
    reader.SetTargetFolder(FuzzFolder());
    reader.GetPortNumber();
    const int result = reader.FetchFile("calib.inc");
    const std::string partial = FuzzFolder() + "~calib.inc.part";
    if (access(partial.c_str(), F_OK) == 0) std::abort();  // a partial copy was left behind
    if (result == ResultDone) unlink((FuzzFolder() + "calib.inc").c_str());
    return 0;
}
