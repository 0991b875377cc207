#pragma once

namespace qr {

// A colour with components 0 to 1.
struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;

    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// How the four display panels and the controller bar look.
struct PanelStyle {
    static constexpr double borderWidth = 3.0;
    static constexpr double cornerRadius = 3.0;
    static constexpr Rgba accent{0.823529, 0.301961, 0.341176, 1.0};        // 210, 77, 87
    static constexpr Rgba controllerBar{0.172549, 0.180392, 0.223529, 1.0}; // 44, 46, 57

    // Background of render view `panel` (1 to 4); toggleColors is the MVC diagnostic colouring.
    static Rgba background(int panel, bool toggleColors);
};

} // namespace qr
