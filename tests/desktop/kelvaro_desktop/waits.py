"""The one way a desktop test waits: for a condition, never for a time.

A limit only guards against a hang. Make it tens of seconds: a sanitizer build on a machine busy with other
work is slow, and a test must pass there.
"""

import time


class WaitTimeout(AssertionError):
    """A condition that did not come within its limit; the message says what was awaited."""


def wait_until(condition, what, timeout=60.0, interval=0.1, abort=None):
    """Calls `condition` until it returns a true value, and returns that value.

    Raises WaitTimeout("WHAT within N s") when it has not by `timeout`. `abort`, when given, is called
    between tries: a text it returns (say, "Kelvaro ended") ends the wait at once with that reason, as there
    is no point waiting for a program that has gone.
    """
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if abort is not None:
            reason = abort()
            if reason:
                raise WaitTimeout(f"{what}: {reason}")
        if time.monotonic() >= deadline:
            raise WaitTimeout(f"{what} within {timeout:g} s")
        time.sleep(interval)

