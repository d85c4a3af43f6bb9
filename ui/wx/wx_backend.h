// The wxWidgets backend of the window framework layer: real windows on wxWidgets 3.2 (GTK).
//
// A program calls InstallWxBackend first thing in main, then constructs its TApplication and
// calls Run(). The backend converts texts between the system's Windows-1252 and the toolkit's
// Unicode, lays out controls at their template positions in the dialog font, reports Windows
// metrics and outer rectangles (see backend.h), and traces message boxes when asked to (see
// message_box_trace.h). The toolkit is started once per process and shut down at exit.
#ifndef LINDAVOX_UI_WX_WX_BACKEND_H
#define LINDAVOX_UI_WX_WX_BACKEND_H

namespace ui {

// Starts wxWidgets with the program's arguments (it removes the toolkit's own options, such as
// --display) and installs the backend. Prefers X11 when both X11 and Wayland are there, since
// only X11 lets a program place its windows. Returns false, after one line on standard error
// saying why, when no display can be opened; no backend is installed then.
bool InstallWxBackend(int& argc, char** argv);

}  // namespace ui

#endif
