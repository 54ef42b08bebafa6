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
    auto& win32 = dynamic_cast<Win32Window&>(*window);
    ASSERT_EQ(win32.Dpi(), 96);
    HWND stop = win32.ControlHandle("cmdStop");

    for (int dpi : {144, 120, 96}) {
        SCOPED_TRACE(dpi);
        RECT suggested{};
        GetWindowRect(win32.Handle(), &suggested);
        SendMessageA(win32.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        const auto px = [dpi](int twips) { return ui::TwipsToPixels(twips, dpi); };
        RECT client{}, button{};
        GetClientRect(win32.Handle(), &client);
        GetWindowRect(stop, &button);
        MapWindowPoints(nullptr, win32.Handle(), reinterpret_cast<POINT*>(&button), 2);
        EXPECT_EQ(client.right, px(4500));
        EXPECT_EQ(client.bottom, px(2250));
        EXPECT_EQ(button.left, px(1500));
        EXPECT_EQ(button.bottom - button.top, px(375));
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(stop, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_EQ(font.lfHeight, MulDiv(metrics.lfMessageFont.lfHeight, dpi, 96));
    }
}

} // namespace
} // namespace larkmoor
