// The online update's decisions: is the server's program newer, is its
// configuration newer, and is a downloaded program file a Windows executable.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/result.h"

namespace kalmora {

inline constexpr const char* kNoUpdate = "NO_UPDATE";

// "major.minor.revision", each part a whole number from 0 to 32767; the
// revision is everything after the second point. Anything else is nothing.
std::optional<ProgramVersion> ParseServerVersion(std::string_view text);

// Each part on its own, first the major, then the minor, then the revision:
// 0.9.0 counts as newer than 1.0.5 because 9 is greater than 0. A server
// version that is not in the three-part form is never newer.
bool IsProgramNewer(std::string_view server, const ProgramVersion& running);

// A three-part server version against the running program in the order
// versions have: the major decides, then the minor, then the revision. Less
// than 0 older, 0 the same, more than 0 newer; nothing when it is not one.
std::optional<int> CompareProgramVersion(std::string_view server, const ProgramVersion& running);

// Ordinal, case-sensitive text order: "10" is not newer than "9".
bool IsConfigurationNewer(std::string_view server, std::string_view local);

// An MZ header whose PE signature stands where the header says.
bool LooksLikeWindowsExecutable(std::string_view bytes);

// A Windows executable that is all there: the headers and the section table
// fit in the file, and every section's raw data lies inside it. A download
// that broke off fails here even when its first bytes look right.
Status CheckWindowsExecutable(std::string_view bytes);

// The version stamped into an executable's version resource (the fixed file
// information), if it carries one.
std::optional<ProgramVersion> StampedVersion(std::string_view bytes);

// What curl was doing: fetching from the update server, or handing a mail
// to the mail server.
enum class CurlTask { Download, Mail };

// curl's exit status in an administrator's words, with the number.
std::string CurlFailureText(uint32_t status, CurlTask task = CurlTask::Download);

// What the downloads' curl writes for each transfer with -w: the server's
// HTTP status (000 without an answer), a blank, the file it saves to.
inline constexpr const char* kTransferWriteOut = "%{http_code} %{filename_effective}\\n";

// Each file of those lines that the server answered with an HTTP error, and
// that answer in words: "the server answered 404 Not Found for
// versions.idx.sig". Empty when the server had every file.
std::map<std::string, std::string> HttpErrors(std::string_view written_out);

// A small PE file stamped with a version, used where a real program file is
// not at hand (the simulator's stand-ins and tests).
std::string MakeStandInExecutable(const ProgramVersion& v, std::string_view name);

}  // namespace kalmora
