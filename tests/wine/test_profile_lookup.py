"""Our portable profile lookup against Wine's GetPrivateProfileStringA."""

import re

from winelib import PROGRAM_DIR


def test_profile_lookup(case):
    p = case.prefix()
    p.install(case.tool("profile_lookup_diff.exe"))
    rc, out = p.run([PROGRAM_DIR + "\\profile_lookup_diff.exe"], timeout=300)
    summary = re.search(r"profile lookup: (\d+) cases \((\d+) relied on\), (\d+) differ \((\d+) relied on\)", out)
    case.require(summary is not None, f"no summary from profile_lookup_diff.exe (exit {rc}):\n{out}")
    cases, relied, differ, differ_relied = (int(g) for g in summary.groups())
    case.check(cases >= 1000 and relied >= 500, f"the corpus is too small: {summary.group(0)}")
    case.check(rc == 0 and differ_relied == 0,
               "the lookups differ where Kalmora relies on them:\n" +
               "\n".join(line for line in out.splitlines() if not line.startswith("note")))
    case.note(summary.group(0))
    # Differences outside what Kalmora relies on, one example of each kind.
    kinds = {}
    for line in out.splitlines():
        m = re.match(r"note: differs case \d+ \(([^,)]*)[^)]*\): (.*)", line)
        if m:
            kinds.setdefault(m.group(1), [0, m.group(2)])[0] += 1
    for kind, (count, example) in kinds.items():
        case.note(f"not relied on, differs in {count} case(s): {kind}: {example}")


TESTS = [("profile-lookup", test_profile_lookup)]
