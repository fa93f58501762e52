// libFuzzer target: the frame header reader, fed any bytes.
//
// The reader looks at no byte beyond the eighth, never announces more than five
// hexadecimal digits can hold, accepts exactly 1 to 511, and reads back every
// length the frame writer writes.
#include "agentlink/AgentCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const FrameHeader header = readFrameHeader(bytes);
    if (header.bodyLength > 0xFFFFF)
        std::abort();
    if (header.isValid() != (header.bodyLength >= 1 && header.bodyLength <= 511))
        std::abort();
    if (size > kFrameHeaderSize &&
        readFrameHeader(bytes.substr(0, kFrameHeaderSize)).bodyLength != header.bodyLength)
        std::abort();

    // Lengths taken from the input survive the writer. They stay below 64 KiB
    // to keep the target fast; longer ones are covered by the unit tests.
    uint32_t length = 0;
    for (size_t i = 0; i < size && i < 2; ++i)
        length = (length << 8) | data[i];
    static const std::string body(0xFFFF, 'x');
    const std::string frame = writeFrame(std::string_view(body).substr(0, length));
    if (readFrameHeader(frame).bodyLength != length)
        std::abort();
    return 0;
}
