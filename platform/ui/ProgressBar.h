// A determinate progress bar; values run from 0 to 100.
#pragma once

namespace platform::ui {

class ProgressBar {
public:
    ProgressBar() = default;
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    virtual ~ProgressBar() = default;

    virtual void setDoubleValue(double value) = 0;
};

} // namespace platform::ui
