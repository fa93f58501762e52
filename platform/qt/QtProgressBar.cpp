#include "platform/qt/QtProgressBar.h"

#include "platform/qt/MainThread.h"

#include <algorithm>
#include <cmath>

namespace platform::qt {

void QtProgressBar::setDoubleValue(double value) {
    runOnMainThread([bar = m_bar, value] {
        if (!bar)
            return;
        bar->setProperty("doubleValue", value);
        // A value outside the range (or not a number) would leave the bar
        // unchanged; clamp it so the bar follows what it was told.
        double shown = std::isfinite(value) ? value : 0.0;
        shown = std::clamp(shown, double(bar->minimum()), double(bar->maximum()));
        bar->setValue(static_cast<int>(std::lround(shown)));
    });
}

} // namespace platform::qt
