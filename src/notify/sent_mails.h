// The record of today's sent message-holiday mails, kept in one small file so
// that a restart on the same day does not mail everyone again.
#pragma once

#include <string>
#include <vector>

#include "config/rules.h"

namespace kalmora {

// The file, in the program directory, and the name it is written under
// before it is swapped in with one rename.
inline constexpr const char* kSentMailsFile = "msgholidays.sent";
inline constexpr const char* kSentMailsNewFile = "msgholidays.sent.new";

// A row's identity: its date entry, address and subject, so that moving rows
// about in [MsgHolidays] does not send them again. One line of the file.
std::string SentMailKey(const std::string& date_entry, const std::string& address, const std::string& subject);

// The file's bytes for `day` with these keys, one per mail sent (a key twice
// when two identical rows each sent theirs).
std::string SentMailsText(const CivilDate& day, const std::vector<std::string>& keys);

// The keys the file lists for `today`; none when it is from another day or
// is not in the form above: a mail rather goes out twice than never.
std::vector<std::string> ParseSentMails(const std::string& bytes, const CivilDate& today);

}  // namespace kalmora
