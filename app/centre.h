#pragma once

class QWidget;

namespace qalu::app {

// Centres the window's outer frame (title bar and borders included) on the primary screen, kept
// inside the work area. An X11 window manager adds the frame only when it maps the window, so the
// window is placed by what is known now and once more when the platform first reports its frame.
void centreOnPrimaryScreen(QWidget *window);

} // namespace qalu::app
