// A one-line text label.
#pragma once

#include <string>

namespace platform::ui {

class TextLabel {
public:
    TextLabel() = default;
    TextLabel(const TextLabel&) = delete;
    TextLabel& operator=(const TextLabel&) = delete;
    virtual ~TextLabel() = default;

    virtual void setText(const std::string& text) = 0;
};

} // namespace platform::ui
