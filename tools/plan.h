// kalmora-sim plan: the real core on the simulated host, one day after the
// other, each day's service started at the boot time, and what it did in
// brief: a row a day, as text, JSON, an iCalendar file or an HTML page.
#pragma once

#include <string>
#include <vector>

#include "host/sim/sim_world.h"

namespace kalmora::plan {

struct Options {
  std::string dir;        // the program directory (copied to `work`)
  std::string work;       // a scratch directory the days run in
  sim::LocalMs from = 0;  // midnight of the first day
  int days = 1;
  int boot_minute = 7 * 60 + 58;  // minutes after midnight
  std::string server_url, server_dir;
};

struct Mail {
  std::string at, to, subject;
};

struct Day {
  std::string date;                 // YYYY-MM-DD
  std::string weekday;              // Mon..Sun
  std::string shutdown;             // "", "holiday", "weekend" or "scheduled"
  std::string name;                 // the holiday's name, or the scheduled time
  std::string halt_at, warning_at;  // HH:MM:SS
  // With postpones or an idle wait configured: the latest the halt can come
  // when people at the desk postpone and work on; empty and `may_give_up`
  // when it can be given up at midnight instead.
  std::string latest_at;
  bool may_give_up = false;
  // What the halt does when it is not the forced shutdown of old:
  // "shutdown", "shutdown with updates", "hibernate" or "sleep".
  std::string action;
  // What may hold the halt ([Holds]): program names, "Windows updates".
  std::vector<std::string> holds;
  std::vector<Mail> notices;        // shutdown notices and warnings
  std::vector<std::string> net;     // NET SEND recipients
  std::vector<Mail> mails;          // message-holiday mails
  std::string mails_sent_by;        // MsgHolidaysComputer, when today's are left to it
  int mails_left = 0;               // how many
  std::vector<std::string> errors;  // error entries, first line
  bool updated = false;             // an online update ran
  bool update_left_out = false;     // UpdateEnabled is on, but no --server: not run
};

std::vector<Day> Run(const Options& o);

// What a calendar people import should show.
struct Selection {
  bool shutdowns = true, mails = true;  // --only shutdowns|mails
  bool weekends = true;                 // --no-weekends leaves weekend shutdowns out
};
std::vector<Day> Select(std::vector<Day> days, const Selection& s);

// A row a day; a last line when the online update was left out.
std::string Text(const std::vector<Day>& days);
std::string Json(const std::vector<Day>& days);
// `generated` is the moment of generation in UTC, YYYYMMDDTHHMMSSZ (DTSTAMP).
std::string Ics(const std::vector<Day>& days, const std::string& generated);
std::string Html(const std::vector<Day>& days);

}  // namespace kalmora::plan
