#include "DisplayPlatform.h"

#include <cstdio>

TPlatformChoice ChoosePlatform(const QByteArray& Chosen, const QByteArray& Display,
                               const QByteArray& WaylandDisplay)
{
    if (!Chosen.isEmpty())
        return {};
    if (!Display.isEmpty())
        return {"xcb", false};
    if (!WaylandDisplay.isEmpty())
        return {"wayland", true};
    return {};
}

void PreferPlaceablePlatform()
{
    const TPlatformChoice choice =
        ChoosePlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"));
    if (!choice.Platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", choice.Platform);
    if (choice.WaylandOnly)
        std::fputs("Tavrin: no X server here, only Wayland: the compositor decides where the "
                   "windows go and whether the control panel stays on top.\n",
                   stderr);
}
