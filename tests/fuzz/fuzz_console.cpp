// The console waits on fuzzed boot loader text. The input decides up to eight steps (a wait of
// each kind for a text of its own, or a clear of the received text) and the text the controller
// prints, in bursts; an empty burst is a read that times out, and the input running out is the
// controller falling silent. Each wait must end as soon as its text stands in what was received
// and never before; a wait whose text never comes must end at the silence with 5 (the lenient
// one: after its pause), having kept every byte that came up to each read's first zero byte.
#include <fuzzer/FuzzedDataProvider.h>

#include "fakes.h"
#include "fuzz_line.h"

namespace {

enum Step { Wait, WaitCounting, WaitLenient, Clear };

struct Op {
    Step step;
    std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<Op> ops(input.ConsumeIntegralInRange(1, 8));
    for (Op& op : ops) {
        op.step = static_cast<Step>(input.ConsumeIntegralInRange(0, 3));
        op.text = input.ConsumeRandomLengthString(32);
    }
    FuzzLine line;
    while (input.remaining_bytes() > 0) line.Send(input.ConsumeRandomLengthString(200));

    RecordingUi ui;
    FakeClock clock;
    TestEngine engine(ui, line, clock);
    engine.OpenEnginePort();
    std::string received;  // what the engine must hold
    uint64_t counted = 0;
    size_t pauses = 0;
    for (const Op& op : ops) {
        if (op.step == Clear) {
            engine.ClearReceived();
            received.clear();
            continue;
        }
        const size_t from = line.events.size();
        const int result = RaisedBy([&] {
            if (op.step == Wait) engine.WaitForText(op.text);
            if (op.step == WaitCounting) engine.WaitForTextCounting(op.text);
            if (op.step == WaitLenient) engine.WaitForTextLenient(op.text);
        });
        bool silence = false;
        for (size_t i = from; i < line.events.size(); ++i) {
            const LineEvent& read = line.events[i];
            Require(read.kind == LineEvent::Read && read.asked == 80, "a wait reads 80 bytes");
            Require(!silence, "a wait read on after a read that timed out");
            Require(received.find(op.text) == std::string::npos,
                    "a wait read on after its text had come");
            silence = read.bytes.empty();
            received += read.bytes.c_str();  // a zero byte ends what a read gives the text
            if (op.step == WaitCounting) counted += read.bytes.size();
        }
        Require(engine.GetReceived() == received, "the received text is not what came");
        Require(engine.GetProgressDone() == counted, "the counting wait miscounted");
        const bool found = received.find(op.text) != std::string::npos;
        Require(found != silence, "a wait ended without its text, or found it and waited on");
        if (silence && op.step == WaitLenient) {
            ++pauses;
            Require(result == -1, "the lenient wait raised on silence");
        } else {
            Require(result == (found ? -1 : ResultNoAnswer), "a wait ended with another result");
        }
        Require(clock.sleeps.size() == pauses &&
                    (pauses == 0 || clock.sleeps.back() == CMathThread::kLenientPauseMs),
                "only the lenient wait pauses, and only after silence");
    }
    engine.Close();
    return 0;
}
