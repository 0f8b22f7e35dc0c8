// Whether the window manager of a real X server (Xvfb) tells where it put the windows, from the properties a
// window manager sets on the root window: weston's, for its X server, announces itself but not its frames.

#include "platform/desktop/widgets/WindowHints.h"

#include "tests/support/XvfbDisplay.h"

#include <QScopeGuard>

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

using platform::x11::internAtom;

TEST(WindowManagerTellsPlaces, OnlyAWindowManagerThatDoesNotPublishItsFramesHidesThePlaces)
{
    kelvaro::test::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    xcb_connection_t* connection = x.connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK"), supported = internAtom(connection, "_NET_SUPPORTED");
    const xcb_atom_t extents = internAtom(connection, "_NET_FRAME_EXTENTS"), state = internAtom(connection, "_NET_WM_STATE");
    const auto newWindow = [&] {
        const xcb_window_t window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, -100, -100, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        return window;
    };
    const xcb_window_t manager = newWindow(), ended = newWindow();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, manager, check, XCB_ATOM_WINDOW, 32, 1, &manager);
    xcb_destroy_window(connection, ended);

    enum class Manager { None, Running, Ended };
    struct Row {
        const char* what;
        Manager manager;
        std::vector<xcb_atom_t> supported;
        bool tellsPlaces;
    } rows[] = {
        {"no window manager: windows stay where they are put", Manager::None, {}, true},
        {"a window manager that publishes its frames", Manager::Running, {state, extents}, true},
        {"a window manager that does not", Manager::Running, {state}, false},
        {"one that does not, and ended: its check names a window that is gone", Manager::Ended, {state}, true},
    };
    for (const Row& row : rows) {
        xcb_delete_property(connection, root, check);
        if (row.manager != Manager::None) {
            const xcb_window_t named = row.manager == Manager::Running ? manager : ended;
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, check, XCB_ATOM_WINDOW, 32, 1, &named);
        }
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, supported, XCB_ATOM_ATOM, 32,
                            std::uint32_t(row.supported.size()), row.supported.data());
        EXPECT_EQ(platform::x11::windowManagerTellsPlaces(connection), row.tellsPlaces) << row.what;
    }
}

// The program's answer is kept between the window manager's changes, and follows each of them once its
// connection has read the events: a window manager that starts, changes what it announces, or ends.
TEST(WindowManagerTellsPlaces, TheKeptAnswerFollowsTheWindowManagersStartsChangesAndEnd)
{
    kelvaro::test::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    xcb_connection_t* manager = x.connection();
    xcb_connection_t* program = xcb_connect(x.name().constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(program), 0);
    const auto disconnect = qScopeGuard([program] { xcb_disconnect(program); });
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(manager)).data->root;
    const xcb_atom_t check = internAtom(manager, "_NET_SUPPORTING_WM_CHECK"), supported = internAtom(manager, "_NET_SUPPORTED");
    const xcb_atom_t extents = internAtom(manager, "_NET_FRAME_EXTENTS"), state = internAtom(manager, "_NET_WM_STATE");
    platform::x11::WindowManagerWatch watch(program);
    // Every event the server sent the program before answering a request of its own.
    const auto readEvents = [&] {
        std::free(xcb_get_input_focus_reply(manager, xcb_get_input_focus(manager), nullptr));
        std::free(xcb_get_input_focus_reply(program, xcb_get_input_focus(program), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(program)) {
            watch.handle(event);
            std::free(event);
        }
    };
    const auto announce = [&](std::vector<xcb_atom_t> atoms) {
        xcb_change_property(manager, XCB_PROP_MODE_REPLACE, root, supported, XCB_ATOM_ATOM, 32, std::uint32_t(atoms.size()),
                            atoms.data());
    };
    const auto start = [&](std::vector<xcb_atom_t> atoms) {
        const xcb_window_t window = xcb_generate_id(manager);
        xcb_create_window(manager, XCB_COPY_FROM_PARENT, window, root, -100, -100, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(manager, XCB_PROP_MODE_REPLACE, window, check, XCB_ATOM_WINDOW, 32, 1, &window);
        announce(std::move(atoms));
        xcb_change_property(manager, XCB_PROP_MODE_REPLACE, root, check, XCB_ATOM_WINDOW, 32, 1, &window);
        return window;
    };
    xcb_window_t running = 0;
    const struct {
        const char* what;
        std::function<void()> change;
        bool tellsPlaces;
    } rows[] = {
        {"no window manager", [] {}, true},
        {"one starts that does not publish its frames", [&] { running = start({state}); }, false},
        {"it comes to publish them", [&] { announce({state, extents}); }, true},
        {"it no longer does", [&] { announce({state}); }, false},
        {"it ends, its window gone and the root still naming it", [&] { xcb_destroy_window(manager, running); }, true},
        {"another starts", [&] { running = start({state}); }, false},
    };
    for (const auto& row : rows) {
        const bool before = watch.tellsPlaces();
        row.change();
        xcb_flush(manager);
        // Unheard, the change is not asked after.
        EXPECT_EQ(watch.tellsPlaces(), before) << row.what;
        readEvents();
        EXPECT_EQ(watch.tellsPlaces(), row.tellsPlaces) << row.what;
        EXPECT_EQ(platform::x11::windowManagerTellsPlaces(program), row.tellsPlaces) << row.what;
    }
}
