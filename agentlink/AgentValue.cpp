#include "agentlink/AgentValue.h"

#include "agentlink/AgentCodec.h"

std::optional<int64_t> AgentValue::integer() const {
    if (const auto* number = std::get_if<int64_t>(&m_value))
        return *number;
    return std::nullopt;
}

std::optional<double> AgentValue::real() const {
    if (const auto* number = std::get_if<double>(&m_value))
        return *number;
    return std::nullopt;
}

void OCDescribe(OCTextSink& sink, const AgentValue& value) {
    switch (value.kind()) {
    case AgentValue::Kind::None:
        sink.append("(null)");
        break;
    case AgentValue::Kind::Text:
        sink.appendChar('"');
        sink.append(value.text()->data(), value.text()->size());
        sink.appendChar('"');
        break;
    case AgentValue::Kind::Integer:
    case AgentValue::Kind::Real: {
        std::string text;
        appendNumberText(text, value);
        sink.append(text.data(), text.size());
        break;
    }
    }
}
