"""The LCD saver on desktops that count the user's idle time themselves: a module blanks once no input came
for its delay and lights again at the next input, as the compositor sees both."""

import subprocess
import time

import pytest

from kelvaro_desktop.lcd import LcdModule, configure_module

TEXT = "Kelvaro"
SAVER = 180  # the shortest delay the saver takes


def plasma_activity(programs, session):
    """Input as KWin counts it. Its virtual screen has no input devices, and its fake input serves trusted
    clients only; the idle protocol's user activity resets every idle timer of the seat, as input does."""
    subprocess.run([programs.wayland_activity], env=session.environment, check=True, capture_output=True,
                   timeout=30)


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
    kelvaro.wait_logged(f"IdleTimeSource: the idle time comes from {source}",
                        "Kelvaro did not say where its idle time comes from", 60)
    assert lcd.state(TEXT) == "lit", "the module blanked right after the input"

    lcd.wait_state(TEXT, "blank", f"the module did not blank after {SAVER} s without input", SAVER + 120,
                   abort=running)
    idle = time.monotonic() - since_input
    # The compositor took the input before the helper returned: at most that long before `since_input`.
    assert idle >= SAVER - 2, f"the module blanked after {idle:.0f} s without input, before its {SAVER} s"

    activity(programs, session)
    lcd.wait_state(TEXT, "lit", "the module did not light up at the input", 60, abort=running)
    assert not kelvaro.has_logged("LogindIdleTimeSource:"), "logind was asked though the desktop tells"
    kelvaro.quit_cleanly("Kelvaro")


def test_the_module_blanks_when_idle_and_lights_at_input_on_plasma(programs, session, plasma):
    lcd = LcdModule(session)
    try:
        blanks_and_lights(programs, session, lcd, plasma_activity,
                          "the compositor's idle notifications (ext-idle-notify-v1)")
    finally:
        lcd.close()
