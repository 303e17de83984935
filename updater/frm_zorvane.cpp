#include "frm_zorvane.h"

#include "config/numbers.h"
#include "update/versions.h"

namespace kalmora {

bool IsUpdateSwitch(const std::string& args) { return AsciiLower(TrimSpaces(args.substr(0, 10))) == "-updateexe"; }

std::optional<std::string> ProgramName(const std::string& args) {
  if (args.size() <= 10) return std::nullopt;
  std::string name = TrimSpaces(AsciiLower(args.substr(10)));
  if (name.empty()) return std::nullopt;
  for (unsigned char c : name) {
    // Separators and drives would reach outside the working directory; a
    // blank or a quote would make the started command line name another
    // program than the file that was swapped.
    if (c == '\\' || c == '/' || c == ':' || c == ' ' || c == '"' || c < 0x20) return std::nullopt;
  }
  return name;
}

frmZorvane::frmZorvane(Host& host) : host_(host) {
  host_.SetTimerInterval(TimerId::Update, 3000);
  host_.EnableTimer(TimerId::Update, false);
}

void frmZorvane::Load() {
  host_.HideWindow();
  if (!IsUpdateSwitch(host_.CommandLineArgs())) host_.ExitProgram(ExitReason::Done);
  // Kalmora ends right after starting us; three seconds is all the waiting
  // there is between the two programs.
  host_.EnableTimer(TimerId::Update, true);
}

void frmZorvane::OnTimer(TimerId id) {
  if (id == TimerId::Update) tmrUpdate_Timer();
}

void frmZorvane::tmrUpdate_Timer() {
  host_.EnableTimer(TimerId::Update, false);
  auto name = ProgramName(host_.CommandLineArgs());
  if (!name) host_.ExitProgram(ExitReason::Done);
  const std::string program = *name + ".exe";
  const std::string downloaded = *name + ".exe.new";
  // Only a whole executable replaces the program file; anything else (a
  // file damaged after Kalmora checked it, say) stays where it is and the
  // old program starts again.
  auto bytes = host_.FileExists(downloaded) ? host_.ReadFile(downloaded) : std::nullopt;
  if (bytes && CheckWindowsExecutable(*bytes)) {
    // One rename that replaces the old file: there is never a moment without
    // a program file. While the old program still runs, its file is locked;
    // try again for a while, then start whichever program file is in place,
    // so the host gets its service back either way. A .new file left behind
    // is cleared by the program's next update run.
    for (int attempt = 1; !host_.ReplaceFile(downloaded, program); ++attempt) {
      if (attempt >= kSwapAttempts) break;
      host_.Sleep(1000);
    }
  }
  (void)host_.StartProcess(program);
  host_.ExitProgram(ExitReason::Done);
}

[[noreturn]] void RunZorvane(Host& host) {
  frmZorvane form(host);
  host.SetEventSink(&form);
  form.Load();
  host.RunEventLoop();
}

}  // namespace kalmora
