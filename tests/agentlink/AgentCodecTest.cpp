// The message text and frame codec, byte for byte, without sockets.
#include "LinkTestSupport.h"

#include "agentlink/AgentCodec.h"
#include "agentlink/Error.h"
#include "agentlink/PHException.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct WorkedFrame {
    const char* name;
    AgentMessage message;
    const char* frame;
};

class WorkedFrames : public testing::TestWithParam<WorkedFrame> {};

TEST_P(WorkedFrames, WriteByteExactAndReadBack) {
    const WorkedFrame& c = GetParam();
    const std::string body = serialize(c.message);
    const std::string frame = writeFrame(body);
    EXPECT_EQ(frame, c.frame);
    EXPECT_EQ(serializeFrame(c.message), c.frame);

    const FrameHeader header = readFrameHeader(frame);
    EXPECT_EQ(header.bodyLength, body.size());
    EXPECT_EQ(header.isValid(), !body.empty());
    const auto read = deserialize(frame.substr(kFrameHeaderSize));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    AgentCodec, WorkedFrames,
    testing::Values(WorkedFrame{"getVersion", {{"Ctrl", "getVersion"}}, R"(F7100015{"Ctrl":"getVersion"})"},
                    WorkedFrame{"bye", {{"Ctrl", "bye"}}, R"(F710000E{"Ctrl":"bye"})"},
                    WorkedFrame{"uninstallAgent",
                                {{"Cmd", "UninstallInstallerAgent"}},
                                R"(F7100021{"Cmd":"UninstallInstallerAgent"})"},
                    WorkedFrame{"reboot", {{"Cmd", "Reboot"}}, R"(F7100010{"Cmd":"Reboot"})"},
                    WorkedFrame{"version", {{"version", "1.2.3"}}, R"(F7100013{"version":"1.2.3"})"},
                    WorkedFrame{"status", {{"status", 0}}, R"(F710000C{"status":0})"},
                    WorkedFrame{"progress",
                                {{"percentCompleted", 42.5}, {"Event", "Progress"}},
                                R"(F7100031{"percentCompleted":42.500000,"Event":"Progress"})"},
                    WorkedFrame{"empty", {}, R"(F7100002{})"},
                    // 12 characters, 13 bytes: the length counts bytes.
                    WorkedFrame{"utf8", {{"n", "caf\u00e9"}}, "F710000D{\"n\":\"caf\u00e9\"}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AgentCodec, WritesNumbersByTheirStoredKind) {
    EXPECT_EQ(serialize({{"n", -7}}), R"({"n":-7})");
    EXPECT_EQ(serialize({{"f", 3.0}}), R"({"f":3.000000})");
    EXPECT_EQ(serialize({{"yes", true}, {"no", false}}), R"({"yes":1,"no":0})");
    EXPECT_EQ(serialize({{"big", std::numeric_limits<int64_t>::min()}}), R"({"big":-9223372036854775808})");
}

TEST(AgentCodec, WritesNonFiniteRealsInFixedFormAndReadsThemBackAsZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::string body = serialize({{"a", inf}, {"b", -inf}, {"c", std::nan("")}});
    EXPECT_EQ(body, R"({"a":inf,"b":-inf,"c":nan})");
    const auto read = deserialize(body);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, (AgentMessage{{"a", 0}, {"b", 0}, {"c", 0}}));
}

TEST(AgentCodec, DropsValueThatHoldsNothingButKeepsItsSeparator) {
    std::string body;
    EXPECT_EQ(logLines([&] {
                  body = serialize({{"a", AgentValue()}, {"b", 1}});
              }),
              std::vector<std::string>{"Unsupported value type in message: (null)"});
    EXPECT_EQ(body, R"({,"b":1})");
    EXPECT_EQ(deserialize(body), (AgentMessage{{"b", 1}}));
}

TEST(AgentCodec, FrameWriterPrintsMoreDigitsBeyondFiveHexDigits) {
    EXPECT_EQ(writeFrame(std::string(0x100000, 'x')).substr(0, 9), "F71100000");
    const std::string huge = serializeFrame({{"t", std::string(0x100000, 'x')}});
    EXPECT_EQ(huge.substr(0, 9), "F71100008");
    EXPECT_EQ(huge.size(), 9 + 0x100008u);
}

struct ReadCase {
    const char* name;
    const char* text;
    std::optional<AgentMessage> expected;
};

class ReadingEdgeCases : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadingEdgeCases, ReadAsTheTextFormDefines) {
    std::optional<AgentMessage> read;
    logLines([&] { read = deserialize(GetParam().text); }); // rejected texts log a line
    EXPECT_EQ(read, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AgentCodec, ReadingEdgeCases,
    testing::Values(
        ReadCase{"emptyObject", "{}", AgentMessage{}}, ReadCase{"emptyText", "", AgentMessage{}},
        ReadCase{"blanksOnly", " \t\r\n ", AgentMessage{}}, ReadCase{"lonelyComma", "{,}", AgentMessage{}},
        ReadCase{"unicodeBlanksAroundBody", "\u3000\u2028 {\"a\":1}\u00a0\n", AgentMessage{{"a", 1}}},
        ReadCase{"allOuterBracesGo", "{{\"a\":1}}", AgentMessage{{"a", 1}}},
        ReadCase{"firstColonSeparates", R"({"a":"x:y"})", AgentMessage{{"a", "x:y"}}},
        ReadCase{"commaInsideText", R"({"info":"x, y"})", std::nullopt},
        ReadCase{"colonLast", R"({"a":})", std::nullopt}, ReadCase{"noColon", R"({"a"})", std::nullopt},
        ReadCase{"integerPrefix", R"({"n":12abc})", AgentMessage{{"n", 12}}},
        ReadCase{"integerWithoutDigits", R"({"n":abc})", AgentMessage{{"n", 0}}},
        ReadCase{"negativeInteger", R"({"n":-7})", AgentMessage{{"n", -7}}},
        ReadCase{"realWithoutFraction", R"({"f":1.})", AgentMessage{{"f", 1.0}}},
        ReadCase{"realWithoutIntegerPart", R"({"f":.5})", AgentMessage{{"f", 0.5}}},
        ReadCase{"realWithExponentAndTail", R"({"f":2.5e2x})", AgentMessage{{"f", 250.0}}},
        ReadCase{"realWithoutDigits", R"({"f":a.b})", AgentMessage{{"f", 0.0}}},
        ReadCase{"blankBeforeTextIsIntegerZero", R"({"a": "x"})", AgentMessage{{"a", 0}}},
        ReadCase{"laterKeyWins", R"({"a":"1","a":"2"})", AgentMessage{{"a", "2"}}},
        ReadCase{"emptyKey", R"({"":1})", AgentMessage{{"", 1}}},
        ReadCase{"pieceStartingWithColonIgnored", R"({:1,"b":2})", AgentMessage{{"b", 2}}},
        ReadCase{"keyKeepsTrailingBlank", R"({ "k" :1})", AgentMessage{{"k\" ", 1}}},
        ReadCase{"textLosesAllOuterQuotes", R"({"t":"""q"""})", AgentMessage{{"t", "q"}}},
        ReadCase{"integerClampedAtTop", R"({"n":99999999999999999999})",
                 AgentMessage{{"n", std::numeric_limits<int64_t>::max()}}},
        ReadCase{"integerClampedAtBottom", R"({"n":-99999999999999999999})",
                 AgentMessage{{"n", std::numeric_limits<int64_t>::min()}}},
        ReadCase{"realOverflowIsInfinite", R"({"f":1.0e999})",
                 AgentMessage{{"f", std::numeric_limits<double>::infinity()}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AgentCodec, RejectedPairIsLoggedWithPieceAndWholeText) {
    EXPECT_EQ(logLines([] { EXPECT_FALSE(deserialize(R"({"info":"x, y"})")); }),
              std::vector<std::string>{
                  R"(PHProtocolHandler: Invalid key/value pair found:  y" in message: {"info":"x, y"})"});
}

TEST(AgentCodec, ReadsRealsWithDotWhateverTheProcessLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    // A locale with a decimal comma, when the system has one; C otherwise.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        std::setlocale(LC_NUMERIC, "C");
    const auto read = deserialize(R"({"f":42.5})");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(read, (AgentMessage{{"f", 42.5}}));
}

struct HeaderCase {
    const char* name;
    const char* header;
    uint32_t length;
    bool valid;
};

class HeaderReader : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderReader, ReadsLengthAndLimits) {
    const FrameHeader header = readFrameHeader(GetParam().header);
    EXPECT_EQ(header.bodyLength, GetParam().length);
    EXPECT_EQ(header.isValid(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    AgentCodec, HeaderReader,
    testing::Values(
        HeaderCase{"zero", "F7100000", 0, false}, HeaderCase{"one", "F7100001", 1, true},
        HeaderCase{"max", "F71001FF", 511, true}, HeaderCase{"maxLowerCase", "F71001ff", 511, true},
        HeaderCase{"tooLong", "F7100200", 512, false}, HeaderCase{"sixHundred", "F7100258", 600, false},
        HeaderCase{"largest", "F71FFFFF", 0xFFFFF, false}, HeaderCase{"foreignMarker", "XYZ00015", 21, true},
        HeaderCase{"stopsAtNonDigit", "F71001G9", 1, true}, HeaderCase{"leadingBlank", "F71 0015", 0, false},
        HeaderCase{"sign", "F71-0015", 0, false}, HeaderCase{"hexPrefix", "F710x015", 0, false},
        HeaderCase{"shortHeader", "F7101", 1, true},
        HeaderCase{"noByteBeyondTheFifthLengthCharacter", "F71000011234", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AgentCodec, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("plain \u00e9\u3000\U0001F600"));
    EXPECT_FALSE(isValidUtf8("\xC3"));             // cut short
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xFF"));
}

TEST(AgentCodec, TraceFormRemovesEveryWhiteSpaceCharacter) {
    EXPECT_EQ(removeWhiteSpace("{\"info\":\"a b\"}"), R"({"info":"ab"})");
    EXPECT_EQ(removeWhiteSpace("a\tb\nc\u00a0d\u2003e\u3000f"), "abcdef");
}

TEST(ErrorObject, DescribesItselfWithDomainCodeAndUserInformation) {
    const ErrorRef error = Error::withReason("IO", -102, "Can't send message, not connected, error: -102");
    EXPECT_EQ(error->reason(), "Can't send message, not connected, error: -102");
    EXPECT_EQ(error->localizedDescription(), "The operation couldn\u2019t be completed. (IO error -102.)");
    EXPECT_EQ(error->description(),
              "Error Domain=IO Code=-102 \"The operation couldn\u2019t be completed. (IO "
              "error -102.)\" UserInfo={reason=Can't send message, not connected, error: -102}");
    OCTextSink sink;
    OCFormat(sink, "%@ / %@", error, ErrorRef());
    EXPECT_EQ(std::string(sink.text()), error->description() + " / (null)");
}

TEST(ErrorObject, LocalizedDescriptionComesFromUserInformation) {
    const ErrorRef error =
        Error::withLocalizedDescription("MyInstallerErrorDomain", -1, "Installation failed");
    EXPECT_EQ(error->localizedDescription(), "Installation failed");
    EXPECT_EQ(error->description(), "Error Domain=MyInstallerErrorDomain Code=-1 \"Installation failed\" "
                                    "UserInfo={NSLocalizedDescription=Installation failed}");
    EXPECT_EQ(error->reason(), "");
}

TEST(ErrorObject, IOExceptionCarriesNameAndReasonWithCode) {
    const PHException e = PHProtocolHandler::createIOException("Failed to connect Unix domain socket", 2);
    EXPECT_EQ(e.name(), "IOException");
    EXPECT_EQ(e.reason(), "Failed to connect Unix domain socket, error: 2");
    EXPECT_STREQ(e.what(), "IOException: Failed to connect Unix domain socket, error: 2");
}

} // namespace
