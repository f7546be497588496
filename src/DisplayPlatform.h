// Which of Qt's platforms shows the windows. The canvas places itself at the
// screen's top-left corner and the control panel stays on top of it; only an
// X server lets a program do either, so where XWayland offers one beside a
// Wayland compositor it is preferred.
#pragma once

#include <QByteArray>

struct TPlatformChoice {
    QByteArray Platform;      // for QT_QPA_PLATFORM; empty leaves Qt's own choice
    bool WaylandOnly = false; // placement and stacking are then the compositor's
};

// Decides from the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY,
// each empty when unset. A platform the user named is never overridden.
TPlatformChoice ChoosePlatform(const QByteArray& Chosen, const QByteArray& Display,
                               const QByteArray& WaylandDisplay);

// Applies the choice to this process's environment; must run before the
// application object exists. Where only Wayland is there, says on standard
// error that the compositor decides where the windows go.
void PreferPlaceablePlatform();
