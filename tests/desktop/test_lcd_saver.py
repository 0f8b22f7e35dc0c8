"""The LCD saver on desktops that count the user's idle time themselves: a module blanks once no input came
for its delay and lights again at the next input, as the compositor sees both."""

import subprocess
import time

from kelvaro_desktop.lcd import LcdModule, configure_module
from kelvaro_desktop.login import FakeLoginManager

TEXT = "Kelvaro"
SAVER = 180  # the shortest delay the saver takes


def plasma_activity(programs, session):
    """Input as KWin counts it. Its virtual screen has no input devices, and its fake input serves trusted
    clients only; the idle protocol's user activity resets every idle timer of the seat, as input does."""
    subprocess.run([programs.wayland_activity], env=session.environment, check=True, capture_output=True,
                   timeout=30)


# A pointer of the Shell's own seat moved there and back: input as a device gives it, which resets mutter's idle
# time (input the XWayland server is given reaches only its own clients).
GNOME_POINTER_JS = """
(() => {
    const Clutter = imports.gi.Clutter, GLib = imports.gi.GLib;
    if (!global.kelvaroPointer)
        global.kelvaroPointer = Clutter.get_default_backend().get_default_seat()
            .create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
    const now = GLib.get_monotonic_time();
    global.kelvaroPointer.notify_relative_motion(now, 3, 3);
    global.kelvaroPointer.notify_relative_motion(now + 1000, -3, -3);
    return true;
})()
"""


def blanks_and_lights(programs, session, lcd, activity, source):
    """A first start stores the local computer, the module is given to it, and the second start drives it."""
    first = session.start("kelvaro-first", programs.kelvaro)
    first.wait_ready("Kelvaro")
    first.quit_cleanly("Kelvaro's first start")
    configure_module(session, "Kelvaro", TEXT, SAVER)

    kelvaro = session.start("kelvaro", programs.kelvaro)
    running = lambda: None if kelvaro.running() else f"Kelvaro ended ({kelvaro.status()})"  # noqa: E731
    lcd.wait_state(TEXT, "lit", "the module did not show its text", 120, abort=running)
    activity(programs, session)
    since_input = time.monotonic()

    lcd.wait_state(TEXT, "blank", f"the module did not blank after {SAVER} s without input", SAVER + 120,
                   abort=running)
    idle = time.monotonic() - since_input
    # The compositor took the input before the helper returned: at most that long before `since_input`.
    assert idle >= SAVER - 2, f"the module blanked after {idle:.0f} s without input, before its {SAVER} s"

    activity(programs, session)
    lcd.wait_state(TEXT, "lit", "the module did not light up at the input", 60, abort=running)
    assert kelvaro.has_logged(f"IdleTimeSource: the idle time comes from {source}"), \
        "Kelvaro did not say where its idle time comes from"
    assert not kelvaro.has_logged("IdleTimeSource: the idle time comes from logind"), \
        "logind's hint was taken though the desktop tells"
    kelvaro.quit_cleanly("Kelvaro")


def test_the_module_blanks_when_idle_and_lights_at_input_on_plasma(programs, session, plasma):
    """Beside a login manager that, as nothing in the session sets its idle hint, reads the seat as active."""
    FakeLoginManager(session, programs.fake_logind)
    lcd = LcdModule(session)
    try:
        blanks_and_lights(programs, session, lcd, plasma_activity,
                          "the compositor's idle notifications (ext-idle-notify-v1)")
    finally:
        lcd.close()


def test_the_module_blanks_when_idle_and_lights_at_input_on_gnome_with_only_display(programs, session, gnome_shell):
    """A program that is given only DISPLAY in a GNOME session (XDG_SESSION_TYPE=wayland), an X client of its
    XWayland: that X server sees none of the input to other programs, the Shell's idle monitor does. (Left to
    itself, Qt would find the Shell's socket by its default name and run natively.)"""
    session.environment.pop("WAYLAND_DISPLAY")
    session.environment["QT_QPA_PLATFORM"] = "xcb"
    # The seat has its pointer before the programs start, as a user's has: XWayland gets its pointer devices
    # now, not as a device plugged in under them.
    assert gnome_shell.eval(GNOME_POINTER_JS), "the Shell made no pointer"
    lcd = LcdModule(session)
    try:
        blanks_and_lights(programs, session, lcd, lambda *_: gnome_shell.eval(GNOME_POINTER_JS),
                          "GNOME Shell's idle monitor")
    finally:
        lcd.close()
