// Rectangles, points and sizes in pixels, as the Windows framework has them.
#ifndef LINDAVOX_UI_GEOMETRY_H
#define LINDAVOX_UI_GEOMETRY_H

struct TPoint {
  int x = 0;
  int y = 0;
};

struct TSize {
  int cx = 0;
  int cy = 0;
};

// left/top inclusive, right/bottom exclusive.
struct TRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const TRect&) const = default;
};

// The record of WM_GETMINMAXINFO.
struct MINMAXINFO {
  TPoint ptReserved;
  TPoint ptMaxSize;
  TPoint ptMaxPosition;
  TPoint ptMinTrackSize;
  TPoint ptMaxTrackSize;
};

#endif
