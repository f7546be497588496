// Which of Qt's platforms shows the windows, and what happens when none can.
// The canvas places itself at the screen's top-left corner and the control
// panel stays on top of it; only an X server lets a program do either, so
// X comes first and Wayland is the fallback.
#pragma once

// Chooses the platform (one the user named in QT_QPA_PLATFORM is kept),
// then holds Qt's messages while the application object connects to a
// display, from construction to Connected(). When no platform starts, says
// so in one line and ends the program with status 1, where Qt would abort.
class TDisplayConnection {
public:
    TDisplayConnection();
    ~TDisplayConnection();
    // The application object exists. Passes on what Qt said, except the
    // failure of X when Wayland took over: then says once that the
    // compositor decides where the windows go.
    void Connected();

    TDisplayConnection(const TDisplayConnection&) = delete;
    TDisplayConnection& operator=(const TDisplayConnection&) = delete;

private:
    bool Holding = true;
};
