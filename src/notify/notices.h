// The notices: e-mail (through send.bat, or by SMTP through curl), NET SEND
// messages, and the message holidays' mails, at most once a day on a host.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "host/host.h"
#include "host/waits.h"

namespace kalmora {

// What the mail headers say of the program that sends.
struct SenderFacts {
  bool RunningAsService = false;
  std::string GlobalIniVersion;
};

class Notices {
 public:
  Notices(Host& host, Waits& waits, const ConfigReadResult& config, const SenderFacts& facts)
      : host_(host), waits_(waits), config_(config), facts_(facts) {}

  // Each is ok only when its child program took the notice and ended with
  // status 0; otherwise the reason says what became of it, worded to follow
  // "An email to inform ADDRESS".
  Status SendEmail(const std::string& address, const std::string& subject, const std::string& body);
  Status SendNetMessage(const std::string& address, const std::string& text);

  // One e-mail for every [MsgHolidays] row that matches `day`, whatever else
  // today is, but at most once a day on this host. True when a row matched.
  bool SendMsgHolidayEmails(const CivilDate& day);

 private:
  const Settings& settings() const { return *config_.values; }
  Status SendBySmtp(const std::string& composed);
  void RememberSentMails(const CivilDate& day);

  Host& host_;
  Waits& waits_;
  const ConfigReadResult& config_;
  const SenderFacts& facts_;
  // The send.bat (or curl) that is handling a mail right now, if one is.
  std::optional<ChildProcess> mail_in_flight_;
  uint64_t mails_composed_ = 0;  // numbers each SMTP mail's file and Message-ID
  // Today's sent message-holiday mails, as msgholidays.sent lists them.
  std::optional<CivilDate> sent_on_;
  std::vector<std::string> sent_today_;
};

// Whether MsgHolidaysComputer names this host: its computer name or its DNS
// name, without regard to case; a final "." of a DNS name does not count.
bool NamesThisHost(std::string_view value, std::string_view computer_name, std::string_view dns_name);

// The log entry's sentence about one notice: that it was sent, or what
// became of it; begins with the two line breaks that set it apart.
std::string NoticeSentence(const std::string& what, const std::string& address, const Status& sent);
// The same about the message boxes in the users' sessions.
std::string SessionSentence(const Result<int>& shown);

}  // namespace kalmora
