#pragma once

#include <string>

#include <windows.h>

#include "station-app/StationLogic.h"
#include "station-app/StationTexts.h"

namespace kestrel::stationapp::win32 {

// The fonts of a tile, made for the DPI of the screen the window is on.
struct TileFonts {
    HFONT name = nullptr, stage = nullptr, time = nullptr, result = nullptr, text = nullptr;
    UINT dpi = 96;
};

// One box on the line, readable from across the bench: its name, the stage, the
// progress and the time, then PASS or FAIL in large letters on green or red,
// and the error line. Its window text is the name and the result ("COM40
// PASS"), for a screen reader and for tests.
class TileView {
public:
    TileView(HWND parent, int id, const TileFonts& fonts);
    ~TileView();
    TileView(const TileView&) = delete;
    TileView& operator=(const TileView&) = delete;

    // Repaints when anything shown changed.
    void Show(const Tile& tile);
    HWND Window() const { return window_; }
    // The height a tile needs at the fonts' DPI.
    static int Height(const TileFonts& fonts);

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc) const;

    HWND window_ = nullptr;
    const TileFonts& fonts_;
    Tile::Result result_ = Tile::Result::None;
    TileTexts texts_;
};

}  // namespace kestrel::stationapp::win32
