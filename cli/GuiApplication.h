#pragma once

namespace kavri::cli {

// Makes sure the process has its one Qt GUI application, which drawing text
// into coupon pictures needs. kavrictl never shows a window: unless
// QT_QPA_PLATFORM says otherwise, the application runs on Qt's offscreen
// platform, so no display is needed. The application is made on first use
// and lives until the process ends (Qt allows one per process); call it on
// the thread that draws. Throws only std::bad_alloc.
void EnsureGuiApplication();

}  // namespace kavri::cli
