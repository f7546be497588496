// How long a sound takes from the player's Play to the sound server's
// output, recorded from the server's monitor: run it with the private
// server (see the README). Prints the delays in milliseconds.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "SoundMonitor.h"
#include "framework/SoundPlayer.h"

namespace {

void RunEventsFor(int Ms)
{
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Q_INIT_RESOURCE(tavrin);
    TSoundMonitor monitor;
    if (!monitor.Start()) {
        std::fprintf(stderr, "no sound server: %s\n", qPrintable(monitor.Error));
        return 1;
    }
    TQtSoundPlayer player;
    using namespace std::chrono;
    for (const char* name : {"RCLICK", "RPOP", "RSTRUM", "RTICK", "RSTART"}) {
        std::vector<double> delays, calls;
        for (int round = 0; round < 40; ++round) {
            RunEventsFor(450 + round % 3 * 20); // the sound before has ended
            const auto before = TSoundMonitor::TClock::now();
            player.Play(QString::fromLatin1(name), TPlayback::Async);
            calls.push_back(duration<double, std::milli>(TSoundMonitor::TClock::now() - before).count());
            std::optional<TSoundMonitor::TClock::time_point> heard;
            for (int wait = 0; wait < 100 && !heard; ++wait) {
                RunEventsFor(5);
                heard = monitor.FirstLoudAfter(before);
            }
            if (heard)
                delays.push_back(duration<double, std::milli>(*heard - before).count());
        }
        std::sort(delays.begin(), delays.end());
        std::sort(calls.begin(), calls.end());
        if (delays.empty()) {
            std::printf("%-7s never heard\n", name);
            continue;
        }
        std::printf("%-7s heard %2zu/40  delay median %5.1f ms  90%% %5.1f ms  max %5.1f ms"
                    "  (Play itself: median %4.2f ms, max %4.2f ms)\n",
                    name, delays.size(), delays[delays.size() / 2], delays[delays.size() * 9 / 10],
                    delays.back(), calls[calls.size() / 2], calls.back());
    }
    return 0;
}
