// The simulated host's INI lookup: what the program relies on from the
// system's profile lookup (the cases are checked against the system's own
// lookup under Wine too).
#include "host/sim/profile_lookup.h"

#include <gtest/gtest.h>

#include "profile_lookup_cases.h"

namespace kalmora::testing {
namespace {

TEST(Lookup, GivesWhatTheSystemGives) {
  for (const ProfileCase& c : ProfileCases()) {
    EXPECT_EQ(LookupProfileString(c.file, c.section, c.key, c.default_value, 750), c.expected)
        << (c.file ? c.file->substr(0, 60) : "(no file)") << " [" << c.section << "] " << c.key;
  }
}

}  // namespace
}  // namespace kalmora::testing
