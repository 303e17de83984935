// The program itself: its command line, directory, version and window, and
// the host it runs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kalmora {

enum class MsgIcon { None, Information, Warning };

struct ProgramVersion {
  int16_t major = 0;
  int16_t minor = 0;
  int16_t revision = 0;
};

// "1.0.5": major, minor and revision without leading zeros.
std::string VersionText(const ProgramVersion& v);

class Program {
 public:
  virtual ~Program() = default;
  // The argument string: the command line after the program's own name and
  // the blanks that follow it.
  virtual std::string CommandLineArgs() = 0;
  virtual std::string ProgramDirectory() = 0;
  virtual bool SetCurrentDirectory(const std::string& dir) = 0;
  virtual void HideWindow() = 0;
  // Modal, OK button only.
  virtual void ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) = 0;
  virtual ProgramVersion Version() = 0;
  // Claims the one Kalmora of this host for the life of this process:
  // nothing when it is ours, else the id of the process that holds it.
  virtual std::optional<uint32_t> ClaimInstance() = 0;
  // The host's network name.
  virtual std::string ComputerName() = 0;
  // The host's fully qualified DNS name ("desk-042.office.example", or the
  // host name alone without a DNS suffix); empty when it has none.
  virtual std::string DnsHostName() = 0;
  // The ANSI code page that kalmora.ini and body files are read in (1252
  // for Western Europe): the charset of the mail they make.
  virtual uint32_t AnsiCodePage() = 0;
};

}  // namespace kalmora
