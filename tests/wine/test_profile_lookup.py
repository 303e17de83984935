# The cases that our portable profile lookup is tested against, put to
# Wine's GetPrivateProfileStringA.

import re

from winelib import PROGRAM_DIR


def test_profile_lookup(case):
    case.install("profile_lookup_diff.exe")
    rc, out = case.run(PROGRAM_DIR + "\\profile_lookup_diff.exe", timeout=300)
    summary = re.search(r"profile lookup: (\d+) cases, (\d+) differ", out)
    case.require(summary, f"no summary from profile_lookup_diff.exe (exit code {rc}):\n{out}")
    case.check(int(summary[1]) >= 1000, f"too few cases: {summary[0]}")
    case.check(rc == 0 and summary[2] == "0", f"the system's lookup differs from ours (exit code {rc}):\n{out}")
    case.notes.append(summary[0])


TESTS = [("profile-lookup", test_profile_lookup)]
