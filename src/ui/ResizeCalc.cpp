#include "ui/ResizeCalc.h"

#include "ui/ScreenMetrics.h"

namespace qr {

bool ResizeCalc::isStandardWidth(double p)
{
    return p == 1920.0 || p == 2560.0 || p == 2880.0 || p == 3840.0 || p == 4096.0 || p == 5120.0;
}

ResizeResult ResizeCalc::compute(double w, double h, float sf, double m)
{
    ResizeResult r;
    float outHeight = static_cast<float>(h);
    const double p = w * sf;
    r.standardWidth = isStandardWidth(p);
    if (!r.standardWidth)
        outHeight -= static_cast<float>(m);
    if (p == 2880.0 || p == 2560.0) {
        const float forced = (p == 2880.0 ? 1620.0f : 1440.0f) / sf;
        r.screenHeight = static_cast<int32_t>(forced);
        outHeight = forced;
    }
    const float h0 = outHeight;
    r.outHeight = ScreenMetricsCalc::reduceToMultipleOf4(outHeight);
    r.outWidth = 3.0f * static_cast<float>(static_cast<int32_t>(r.outHeight * 0.25f));
    r.verticalOffset = h0 - r.outHeight;
    r.screenWidth = static_cast<int32_t>(w);

    double width = w;
    double height = r.standardWidth ? r.outHeight : r.outHeight + m;
    if (sf == 2.0f) {
        if (2.0 * width < 1280.0)
            width = 1280.0;
        if (2.0 * height < 720.0)
            height = 720.0;
    } else {
        if (width * sf < 1600.0)
            width = 1600.0;
        if (height * sf < 900.0)
            height = 900.0;
    }
    r.width = width;
    r.height = height;
    return r;
}

} // namespace qr
