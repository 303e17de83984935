// The checker of kalmora.ini behind CheckConfiguration: the file's lines, the
// reading the service makes of them, and the findings so far.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "check/config_check.h"
#include "config/config.h"
#include "host/host.h"

namespace kalmora {

struct Line {
  int number;
  std::string text;
};

// The file's lines as the reader splits them (CR LF, CR or LF), without a
// UTF-8 byte-order mark.
std::vector<Line> SplitLines(const std::string& bytes);

class Checker {
 public:
  Checker(Host& host, const std::string& bytes, const ConfigReadResult& read)
      : host_(host), lines_(SplitLines(bytes)), read_(read) {}

  void Add(int line, const std::string& rule, const std::vector<std::string>& parts = {});
  std::vector<Finding> Take();

  // Each looks at one side of the file (config_check.cpp, and the lists in
  // config_check_lists.cpp).
  void Encoding();
  void KeyedSections();
  void Values(int program_major);
  void Files();
  void Desktop();
  void UpdateKey();
  void ShutdownHolidays();
  void MsgHolidays();

 private:
  const Settings& settings() const { return *read_.values; }
  int KeyAt(const std::string& section, const std::string& key) const;
  // Only keys that stand in the file are judged: a default is always fine.
  void Kinds();
  void ScheduledTimes();
  void Addresses();
  void DateRow(int line, const std::string& date, std::map<std::string, int>& seen, const char* later_wins);

  Host& host_;
  std::vector<Line> lines_;
  const ConfigReadResult& read_;
  std::map<std::string, int> key_lines_;  // "section/key" in lower case -> line of the one read
  std::vector<Finding> findings_;
};

}  // namespace kalmora
