// ping_window WINDOW-ID [TIMEOUT-MS]: sends a window the ping a window
// manager sends (_NET_WM_PING) and waits for its program's answer, which the
// program gives only from its event loop. Prints the round trip in
// milliseconds; exit status 1 when no answer came in time.
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: ping_window WINDOW-ID [TIMEOUT-MS]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "ping_window: cannot open the display\n");
        return 2;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    const int timeoutMs = argc > 2 ? std::atoi(argv[2]) : 10000;
    const Window root = DefaultRootWindow(display);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    // The answer goes to the root window, to whoever watches its children.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    static long serial = 1000;
    const long stamp = serial + long(std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = long(window);
    const auto start = std::chrono::steady_clock::now();
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    for (;;) {
        while (XPending(display)) {
            XEvent reply;
            XNextEvent(display, &reply);
            if (reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                Atom(reply.xclient.data.l[0]) == ping && reply.xclient.data.l[1] == stamp) {
                const auto ms = std::chrono::duration<double, std::milli>(
                    std::chrono::steady_clock::now() - start);
                std::printf("%.1f\n", ms.count());
                return 0;
            }
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        const int left = timeoutMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count());
        if (left <= 0)
            break;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, left);
    }
    std::printf("timeout\n");
    return 1;
}
