// The live idle source: the X server's idle time where there is an X display, logind's hint elsewhere.

#include "platform/hardware/IdleTimeSource.h"

#include "tests/support/TestEnvironment.h"
#include "tests/support/XvfbDisplay.h"

#include <QThread>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using namespace platform;

TEST(IdleTimeSource, TheLiveSourceIsTheXServersWhereThereIsAnXDisplay)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    struct Row {
        QByteArray display;
        bool wayland;
        bool fromX;
    } rows[] = {
        {x.name(), false, true},
        {x.name(), true, false}, // X under Wayland sees only its own clients' input
        {"", false, false},
        {":4999", false, false}, // no server there
    };
    for (const Row& row : rows) {
        const auto source = IdleTimeSource::live(row.display, row.wayland);
        ASSERT_TRUE(source);
        EXPECT_EQ(dynamic_cast<const XScreenSaverIdleTimeSource*>(source.get()) != nullptr, row.fromX) << row.display.constData();
        EXPECT_EQ(dynamic_cast<const LogindIdleTimeSource*>(source.get()) != nullptr, !row.fromX) << row.display.constData();
    }
}

TEST(XScreenSaverIdleTimeSource, GrowsWhileNobodyTypesAndDropsAtInputAndOutlivesTheServer)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    const auto source = XScreenSaverIdleTimeSource::create(x.name());
    ASSERT_TRUE(source);
    ASSERT_TRUE(kt::waitFor([&] { return source->idleNanoseconds().value_or(0) >= 50'000'000u; }));
    const quint64 before = *source->idleNanoseconds();
    ASSERT_TRUE(x.simulateUserInput());
    const auto after = source->idleNanoseconds();
    ASSERT_TRUE(after);
    EXPECT_LT(*after, before);

    // At logout the server goes first: readings end, the process does not.
    x.kill();
    EXPECT_FALSE(source->idleNanoseconds());
    EXPECT_FALSE(source->idleNanoseconds());
}
