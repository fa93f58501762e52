// The text form of agent messages and the frame that carries one message on the
// byte stream. Pure data handling: no socket, no thread, usable on its own.
//
// Body text: a JSON-like object without nesting and without escaping, e.g.
// {"percentCompleted":42.500000,"Event":"Progress"}. Keys and text values are
// written as they are, so a text value must not hold "," and a key neither ","
// nor ":"; the writer does not check this.
//
// Frame: "F71", the body's UTF-8 byte length as five upper-case hexadecimal
// digits, then the body; no terminator. Readers accept bodies of 1 to 511 bytes.
#pragma once

#include "agentlink/AgentMessage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kFrameHeaderSize = 8;
inline constexpr uint32_t kMaxFrameBodySize = 0x1FF;

/// The body text of \p message. Never fails: a value that holds nothing is
/// dropped (its "," separator stays) and logged.
std::string serialize(const AgentMessage& message);

/// Reads a body text. Nothing when a non-empty piece has no usable ":"; the
/// reason is logged. Texts without pairs ("{}", "", blanks) give an empty message.
std::optional<AgentMessage> deserialize(std::string_view text);

/// "F71" + "%05X" of the body's byte length + the body.
std::string writeFrame(std::string_view body);
/// writeFrame(serialize(message)) in one buffer, as the protocol handler sends.
std::string serializeFrame(const AgentMessage& message);

/// What a frame header announces.
struct FrameHeader {
    /// The length field read as hexadecimal (either case), up to the first
    /// character that is not a hexadecimal digit; 0 when it starts with none.
    uint32_t bodyLength = 0;

    /// A body of 1 to 511 bytes; anything else is a size error.
    bool isValid() const { return bodyLength >= 1 && bodyLength <= kMaxFrameBodySize; }
};

/// Reads the length field of a frame header. Only bytes 3 to 7 are examined
/// (the "F71" mark is not checked); a shorter \p header yields fewer digits.
FrameHeader readFrameHeader(std::string_view header);

/// Appends a number value as the writer prints it: an integer in decimal, a
/// real in fixed notation with six decimals ("inf", "-inf", "nan" when not finite).
void appendNumberText(std::string& out, const AgentValue& value);

/// True when \p bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view bytes);

/// \p text without any white-space character (tab, line feed, form feed,
/// carriage return and the Unicode space and separator characters), as the
/// trace lines show received bodies.
std::string removeWhiteSpace(std::string_view text);
