// Text from outside the process (a client's request, a package's names and its
// scripts' output) written into a log: one logged event must stay one line,
// and nothing a client sends may pass for a line the program wrote.
#pragma once

#include <string>
#include <string_view>

namespace platform::LogText {

/// \p text with every control character written out, so the result holds no
/// byte below 0x20 and no 0x7f: line feed as "\n", carriage return as "\r",
/// tab as "\t", every other such byte as "\x" and two lower-case hexadecimal
/// digits, and the backslash itself as "\\" (so an escape in the text cannot
/// be told apart from one made here only by reading it wrongly). Every other
/// byte, UTF-8 sequences included, is kept as it is.
std::string escaped(std::string_view text);

} // namespace platform::LogText
