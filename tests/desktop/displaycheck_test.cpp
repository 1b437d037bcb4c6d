// Whether the desktop program may try to open a display, decided before any window object.
#include "desktopfront.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <optional>

namespace
{

TEST(DesktopFront, DisplayIsTriedOnlyWhenOneIsConfigured)
{
    struct Case {
        const char* name;
        const char* display;
        const char* wayland;
        const char* platform;
        bool tried;
    };
    const std::vector<Case> cases = {
        {"X display", ":0", "", "", true},
        {"Wayland display", "", "wayland-0", "", true},
        {"nothing set", "", "", "", false},
        {"offscreen needs no display", "", "", "offscreen", true},
        {"xcb asked without DISPLAY", "", "wayland-0", "xcb", false},
        {"xcb asked with DISPLAY", ":3", "", "xcb", true},
        {"wayland asked without WAYLAND_DISPLAY", ":0", "", "wayland", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv display("DISPLAY", c.display);
        ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        ScopedEnv platform("QT_QPA_PLATFORM", c.platform);
        std::string why;
        EXPECT_EQ(DesktopFront::DisplayConfigured(&why), c.tried);
        if (!c.tried) {
            // One line that names the way out.
            EXPECT_EQ(why.find('\n'), std::string::npos);
            EXPECT_NE(why.find("--check-now"), std::string::npos) << why;
            EXPECT_NE(why.find("display"), std::string::npos) << why;
        }
    }
}

} // namespace
