"""Kalmora under Wine's service manager: start, the settling wait, the check,
and stop requests at both ends of it."""

import time

from winelib import PROGRAM_DIR, TestFailure, avoid_midnight, ini, local_now


def wait_state(case, prefix, wanted, timeout):
    deadline = time.time() + timeout
    state = None
    while time.time() < deadline:
        state = prefix.service_state()
        if state == wanted:
            return time.time()
        time.sleep(0.25)
    raise TestFailure(f"the service did not reach {wanted} within {timeout} s (last state {state}); "
                      f"sc query:\n{prefix.sc('query', 'Kalmora')}")


def holiday_ini(version="1"):
    today = local_now().strftime("%d.%m.%Y")
    return ini({"GeneralOptions": {"Version": version, "ShutdownEnabled": "1", "ShutdownDelay": "3600"}},
               holidays=f"{today}=Service Day")


def test_service(case):
    avoid_midnight(240)
    p = case.prefix()
    p.install(case.tool("kalmora.exe"))
    p.write("kalmora.ini", holiday_ini())
    # The session's first process: the service manager and its services
    # write their traces (the event log) where it writes.
    _, session = p.sleeper()
    rc, _ = p.run([PROGRAM_DIR + "\\kalmora.exe", "-install"])  # no display: the box fails at once
    case.require(p.service_state() == "STOPPED", f"after -install: {p.sc('query', 'Kalmora')}")

    # 1. Start, settle for 120 s, then the check runs (here: a holiday with a
    # countdown of an hour, so the service stays up).
    p.sc("start", "Kalmora")
    running_at = wait_state(case, p, "RUNNING", 30)
    case.check(not session.events(), f"event-log entries before the settling wait ended: {session.events()}")
    entry = session.wait_for_event(lambda e: "Today is holiday" in e.text, 160, "the holiday entry of the check")
    settled = entry.seen_at - running_at
    case.check(118 <= settled <= 135, f"the check came {settled:.1f} s after the service ran; expected about 120 s")
    case.equal(entry.type, 4, "type of the holiday entry")
    case.equal(entry.text, "Kalmora: Today is holiday 'Service Day'. The host will shut down in 3600 seconds.",
               "holiday entry")
    case.note(f"check {settled:.1f} s after the service reported running")

    stop_at = time.time()
    p.sc("stop", "Kalmora")
    stopped_at = wait_state(case, p, "STOPPED", 15)
    query = p.sc("query", "Kalmora")
    case.check("WIN32_EXIT_CODE    : 0" in query, f"a clean stop has exit code 0:\n{query}")
    case.note(f"stopped {stopped_at - stop_at:.1f} s after sc stop")

    # 2. A stop during the settling wait ends the service before kalmora.ini
    # is read: with Version=0 the reading would log its warning at once.
    p.write("kalmora.ini", holiday_ini(version="0"))
    before = len(session.events())
    p.sc("start", "Kalmora")
    wait_state(case, p, "RUNNING", 30)
    time.sleep(5)
    stop_at = time.time()
    p.sc("stop", "Kalmora")
    stopped_at = wait_state(case, p, "STOPPED", 15)
    case.check(stopped_at - stop_at < 5, f"stop during the settling wait took {stopped_at - stop_at:.1f} s")
    query = p.sc("query", "Kalmora")
    case.check("WIN32_EXIT_CODE    : 0" in query, f"a clean stop has exit code 0:\n{query}")
    time.sleep(3)
    after = session.events()[before:]
    case.check(not after, f"the stopped service still wrote to the event log: {after}")


TESTS = [("service", test_service)]
