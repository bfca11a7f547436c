// The display's scale: its dots per inch and the picture sizes drawn for it.
// Windows before 8.1 (and 10 for the metrics) lack the per-monitor calls; the
// program then takes the system's one scale.
#ifndef SPINDLEBAY_DISPLAY_SCALE_H
#define SPINDLEBAY_DISPLAY_SCALE_H

#include <windows.h>

constexpr int kBaseDpi = 96;

// Dots per inch of the monitor holding `point`.
int monitorDpiAt(POINT point);
// Dots per inch of the monitor holding most of `window`.
int windowDpi(HWND window);
// Dots per inch of the monitor holding the notification area.
int trayDpi();
// GetSystemMetricsForDpi where the system has it, else GetSystemMetrics.
int systemMetricForDpi(int index, int dpi);
// The largest size the pictures are drawn at (16, 20, 24, 32) that fits the
// display's small-icon size at `dpi`.
int pictureSizeForDpi(int dpi);
// `value` at 96 dpi, scaled to `dpi` (rounded to nearest).
int scaleForDpi(int value, int dpi);

#endif
