// The platform the windows run on: an X server wherever there is one, since
// only there can the canvas place itself and the panel stay on top; Wayland
// alone with a note; and never against the user's own choice.
#include <QTest>

#include "DisplayPlatform.h"

class TPlatformTest : public QObject {
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
};

void TPlatformTest::choice_data()
{
    QTest::addColumn<QByteArray>("chosen");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<QByteArray>("platform");
    QTest::addColumn<bool>("waylandOnly");

    QTest::newRow("Wayland desktop with XWayland") << QByteArray() << QByteArray(":0")
                                                   << QByteArray("wayland-0") << QByteArray("xcb")
                                                   << false;
    QTest::newRow("X11 desktop") << QByteArray() << QByteArray(":1") << QByteArray()
                                 << QByteArray("xcb") << false;
    QTest::newRow("Wayland alone") << QByteArray() << QByteArray() << QByteArray("wayland-1")
                                   << QByteArray("wayland") << true;
    QTest::newRow("user chose Wayland") << QByteArray("wayland") << QByteArray(":0")
                                        << QByteArray("wayland-0") << QByteArray() << false;
    QTest::newRow("user chose offscreen, Wayland alone")
        << QByteArray("offscreen") << QByteArray() << QByteArray("wayland-0") << QByteArray()
        << false;
    QTest::newRow("no display at all") << QByteArray() << QByteArray() << QByteArray()
                                       << QByteArray() << false;
}

void TPlatformTest::choice()
{
    QFETCH(QByteArray, chosen);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(QByteArray, platform);
    QFETCH(bool, waylandOnly);

    const TPlatformChoice choice = ChoosePlatform(chosen, display, waylandDisplay);
    QCOMPARE(choice.Platform, platform);
    QCOMPARE(choice.WaylandOnly, waylandOnly);
}

QTEST_APPLESS_MAIN(TPlatformTest)
#include "platform_test.moc"
