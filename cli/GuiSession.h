#pragma once

#include <memory>

class QGuiApplication;

namespace kavri::cli {

// The Qt GUI application that drawing text into coupon pictures needs, for as
// long as a command draws. When the process has no application yet, the
// session makes one and deletes it again at its end; otherwise it uses the
// one there is. kavrictl never shows a window: unless QT_QPA_PLATFORM names
// another, the application runs on Qt's offscreen platform, so no display is
// needed, and Qt's notes about the desktop session are kept off standard
// error (its critical messages still reach it).
//
// Lives on the thread that draws, one at a time (Qt allows one application
// per process). Throws only std::bad_alloc.
class GuiSession {
public:
    GuiSession();
    ~GuiSession();
    GuiSession(const GuiSession&) = delete;
    GuiSession& operator=(const GuiSession&) = delete;

private:
    // QGuiApplication keeps references to these for its whole life.
    int m_argc = 1;
    char m_name[9] = "kavrictl";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_application;
};

}  // namespace kavri::cli
