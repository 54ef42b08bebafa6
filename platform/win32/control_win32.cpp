#include "platform/win32/widgets_win32.h"

namespace larkmoor {

namespace {

int ScreenDpi(HWND hwnd) {
    HDC dc = GetDC(hwnd);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd, dc);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

std::string WindowText(HWND hwnd) {
    if (!hwnd)
        return {};
    std::string text(GetWindowTextLengthA(hwnd) + 1, '\0');
    text.resize(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size())));
    return text;
}

// GetDpiForWindow is looked up at run time so that the program still loads where it is missing
// (before Windows 10); there the screen's DPI serves.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd))
            return static_cast<int>(dpi);
    }
    return ScreenDpi(hwnd);
}

HFONT MessageFont(int dpi) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    LOGFONTA& font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, dpi, ScreenDpi(nullptr));
    return CreateFontIndirectA(&font);
}

COLORREF Resolve(ui::Colour colour, int systemColour) {
    return colour == ui::kSystemColour ? GetSysColor(systemColour) : colour;
}

HBRUSH MakeBrush(ui::Colour colour) {
    return colour == ui::kSystemColour ? nullptr : CreateSolidBrush(colour);
}

HICON ProgramIcon(HINSTANCE instance, int dpi) {
    const int size = MulDiv(32, dpi, USER_DEFAULT_SCREEN_DPI);
    return static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

} // namespace larkmoor
