// Making a mail ready for SMTP: a body file of N lines, mailed to a list of
// recipients with blind copy on.
#include <benchmark/benchmark.h>

#include "notify/mail_file.h"
#include "notify/smtp.h"

namespace {

void BM_PrepareSmtpMail(benchmark::State& state) {
  std::string body;
  for (int64_t i = 0; i < state.range(0); ++i) body += "A line of the holiday letter, with %VER% in it.\n";
  const std::string composed =
      kalmora::MailHeaderLines({"Kalmora <kalmora@example.com>", true, "7", true, "1.0.5"},
                               "a@example.com; b@example.com, Team <c@example.com>", "Holidays") +
      kalmora::MailFileBody(body, "1.0.5");
  for (auto _ : state) {
    auto mail = kalmora::PrepareSmtpMail(
        composed, {"Thu, 24 Dec 2026 08:00:10 +0100", "<1@example.com>", "DESK-042", "windows-1252"});
    benchmark::DoNotOptimize(mail);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * composed.size()));
}
BENCHMARK(BM_PrepareSmtpMail)->Arg(10)->Arg(10000);

}  // namespace
