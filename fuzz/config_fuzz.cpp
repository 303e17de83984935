// ParseConfiguration: the input is the whole of kalmora.ini.
#include "config/config.h"
#include "fuzz_input.h"
#include "memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kalmora::fuzz::MemoryHost host("kalmora.ini", kalmora::fuzz::Fields<1>(data, size)[0]);
  const kalmora::ConfigReadResult r = kalmora::ParseConfiguration(host, host, "kalmora.ini", 1);
  // The check walks the tables side by side, so their rows must pair up.
  const kalmora::HolidayTables& t = *r.tables;
  const size_t rows = t.lstMsgHolidaysDates.size();
  Check(t.lstShutdownHolidaysDates.size() == t.lstShutdownHolidaysDescr.size() &&
        t.lstMsgHolidaysSubject.size() == rows && t.lstMsgHolidaysBody.size() == rows &&
        t.lstMsgHolidaysAddress.size() == rows);
  // Administrators are told why a file was refused.
  Check((r.status == 0) == r.failure.empty());
  for (const std::string& text : r.values->texts) Check(text.size() < 750);
  return 0;
}
