// Main-thread timers on the manual clock, and how they wait for modal alerts.

#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Scheduler.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

// Moves the clock and lets the main loop fire what came due (a deferred firing takes one more turn).
void turn()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void advance(double s)
{
    kt::clock()->advanceSeconds(s);
    turn();
}

// A presenter whose "modal loop" lets time pass and the main loop run, as Qt's does.
class TimePassingPresenter final : public AlertPresenter {
public:
    double seconds = 0;
    int depthSeen = -1;
    int runModal(const Alert&) override
    {
        depthSeen = modalDepth();
        advance(seconds);
        return 1;
    }
    void beep() override {}
};

} // namespace

TEST(Scheduler, TimersFollowTheClockAndWaitForModalAlertsWhenAsked)
{
    // o/c open and close a modal alert, a advances the clock, x invalidates; `fired` is the count after the step.
    struct Step {
        char op;
        double seconds;
        int fired;
    };
    struct Case {
        const char* name;
        bool repeats;
        ModalPolicy policy;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"one-shot fires inside an alert", false, ModalPolicy::FireWhileModal,
         {{'a', 4.9, 0}, {'o', 0, 0}, {'a', 0.1, 1}, {'c', 0, 1}, {'a', 100, 1}}},
        {"one-shot waits for the alert, then fires once", false, ModalPolicy::WaitWhileModal,
         {{'o', 0, 0}, {'a', 5, 0}, {'a', 100, 0}, {'c', 0, 1}, {'a', 10, 1}}},
        {"nested alerts: only the last close releases it", false, ModalPolicy::WaitWhileModal,
         {{'o', 0, 0}, {'o', 0, 0}, {'a', 5, 0}, {'c', 0, 0}, {'c', 0, 1}}},
        {"repeating: one make-up firing, then its cadence", true, ModalPolicy::WaitWhileModal,
         {{'a', 10, 1}, {'o', 0, 1}, {'a', 35, 1}, {'c', 0, 2}, {'a', 4.9, 2}, {'a', 0.1, 3}, {'a', 10, 4}}},
        {"invalidated while it waits", false, ModalPolicy::WaitWhileModal,
         {{'o', 0, 0}, {'a', 5, 0}, {'x', 0, 0}, {'c', 0, 0}, {'a', 10, 0}}},
        {"repeating stops when invalidated", true, ModalPolicy::FireWhileModal,
         {{'a', 5, 1}, {'a', 5, 2}, {'x', 0, 2}, {'a', 50, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int fired = 0;
        auto fn = [&fired] { ++fired; };
        auto handle = c.repeats ? Scheduler::shared()->every(durationFromSeconds(5), fn, c.policy)
                                : Scheduler::shared()->afterSeconds(5, fn, c.policy);
        EXPECT_TRUE(handle.isValid());
        std::vector<std::unique_ptr<AlertPresenter::ModalScope>> alerts;
        for (const Step& step : c.steps) {
            switch (step.op) {
            case 'a': advance(step.seconds); break;
            case 'o': alerts.push_back(std::make_unique<AlertPresenter::ModalScope>()); break;
            case 'c': alerts.pop_back(); turn(); break;
            case 'x': handle.invalidate(); turn(); break;
            }
            EXPECT_EQ(fired, step.fired) << "after step " << step.op << " " << step.seconds;
        }
        EXPECT_EQ(AlertPresenter::modalDepth(), 0);
        const bool invalidated = std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.op == 'x'; });
        EXPECT_EQ(handle.isValid(), c.repeats && !invalidated) << "a one-shot is spent once it fired";
        handle.invalidate();
    }
}

TEST(AlertPresenter, EveryInstalledPresenterCountsModalDepth)
{
    auto presenter = std::make_shared<TimePassingPresenter>();
    presenter->seconds = 20;
    AlertPresenter::setShared(presenter);
    int waiting = 0;
    int eager = 0;
    auto waits = Scheduler::shared()->afterSeconds(10, [&] { ++waiting; }, ModalPolicy::WaitWhileModal);
    auto fires = Scheduler::shared()->afterSeconds(10, [&] { ++eager; });

    EXPECT_EQ(AlertPresenter::shared()->runModal(Alert{}), 1);
    EXPECT_EQ(presenter->depthSeen, 1);
    EXPECT_EQ(eager, 1) << "timers that do not wait fire inside the alert";
    EXPECT_EQ(waiting, 0);
    EXPECT_EQ(AlertPresenter::modalDepth(), 0);
    turn();
    EXPECT_EQ(waiting, 1) << "released on a later turn once the alert closed";
    EXPECT_FALSE(waits.isValid());

    AlertPresenter::setShared(AlertPresenter::shared());
    presenter->depthSeen = -1;
    AlertPresenter::shared()->runModal(Alert{});
    EXPECT_EQ(presenter->depthSeen, 1) << "reinstalling the shared presenter counts once";
    AlertPresenter::setShared(nullptr);
}
