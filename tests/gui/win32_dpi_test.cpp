// A window moved to a screen of another DPI is laid out again at that DPI.
#include "platform/win32/window_win32.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

constexpr ui::ControlDecl kButton[] = {
    {"cmdStop", ui::ControlKind::Button, 1500, 600, 1200, 375, 0, "Stop"},
};
constexpr ui::FormDecl kForm = {"frmDpi", "Dpi", 4500, 2250, ui::kSystemColour, kButton};

TEST(Win32Dpi, ADpiChangeRescalesClientAreaControlsAndFont) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    Win32WindowSystem windows(GetModuleHandleA(nullptr));
    ui::FormEvents events;
    auto window = windows.Create(kForm, events);
    HWND hwnd = dynamic_cast<Win32Window&>(*window).Handle();
    HWND stop = dynamic_cast<Win32Window&>(*window).ControlHandle("cmdStop");
    for (int dpi : {144, 96}) {
        RECT suggested{}, client{}, button{};
        GetWindowRect(hwnd, &suggested);
        SendMessageA(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        GetClientRect(hwnd, &client);
        GetWindowRect(stop, &button);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&button), 2);
        const auto px = [dpi](int twips) { return ui::TwipsToPixels(twips, dpi); };
        EXPECT_EQ(client.right, px(4500)) << dpi;
        EXPECT_EQ(client.bottom, px(2250)) << dpi;
        EXPECT_EQ(button.left, px(1500)) << dpi;
        EXPECT_EQ(button.bottom - button.top, px(375)) << dpi;
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(stop, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_EQ(font.lfHeight, MulDiv(metrics.lfMessageFont.lfHeight, dpi, 96)) << dpi;
    }
}

} // namespace
} // namespace larkmoor
