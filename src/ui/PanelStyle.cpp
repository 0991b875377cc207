#include "ui/PanelStyle.h"

namespace qr {

Rgba PanelStyle::background(int panel, bool toggleColors)
{
    constexpr double dark = 0.250980;  // 64/255
    constexpr double light = 0.501961; // 128/255
    if (panel == 4)
        return {light, light, light, 1.0};
    if (toggleColors) {
        if (panel == 1)
            return {1.0, 0.0, 0.0, 1.0};
        if (panel == 2)
            return {0.0, 1.0, 0.0, 1.0};
        if (panel == 3)
            return {0.0, 0.0, 1.0, 1.0};
    }
    return {dark, dark, dark, 1.0};
}

} // namespace qr
