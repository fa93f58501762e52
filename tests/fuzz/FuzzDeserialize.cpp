// libFuzzer target: the message text reader, fed any bytes.
//
// Besides not crashing, a text that reads as a message must survive the trip
// through the writer: writing what was read and reading it again keeps every
// key, every text and every integer, and every finite real stays a real.
#include "agentlink/AgentCodec.h"

#include "CNSLog.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Rejected texts are logged; send those lines to the system log, not to
    // standard error where libFuzzer reports.
    CNSInitLog(0, 1, "fuzz_deserialize", nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<AgentMessage> message = deserialize(text);
    if (!message)
        return 0;
    const std::optional<AgentMessage> again = deserialize(serialize(*message));
    if (!again || again->size() != message->size())
        std::abort();
    for (const auto& [key, value] : *message) {
        const AgentValue* other = again->find(key);
        if (!other)
            std::abort();
        if (value.isText() || value.isInteger()) {
            if (!(*other == value))
                std::abort();
        } else if (std::isfinite(*value.real()) && !other->isReal()) {
            std::abort();
        }
    }
    return 0;
}
