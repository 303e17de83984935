// The two roles the configuration reader takes, over one file held in
// memory: its bytes to ReadFile, and to the profile lookup the simulated host
// uses. Anything else asked of the files would be a fault, and ends the run.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "host/files.h"
#include "host/profile.h"
#include "host/sim/profile_lookup.h"

namespace kalmora::fuzz {

class MemoryHost final : public Files, public Profile {
 public:
  MemoryHost(std::string name, std::optional<std::string> bytes) : name_(std::move(name)), index_(std::move(bytes)) {}

  std::optional<std::string> ReadFile(const std::string& name) override {
    return name == name_ ? index_.bytes() : std::nullopt;
  }
  std::string GetProfileString(const std::string& section, const std::string& key, const std::string& default_value,
                               const std::string& path, size_t buffer_size) override {
    if (path != name_) return LookupProfileString(std::nullopt, section, key, default_value, buffer_size);
    return index_.Lookup(section, key, default_value, buffer_size);
  }

  Status DeleteFile(const std::string&) override { Unexpected(); }
  Status ReplaceFile(const std::string&, const std::string&) override { Unexpected(); }
  bool FileExists(const std::string&) override { Unexpected(); }
  Status WriteFile(const std::string&, const std::string&) override { Unexpected(); }
  std::optional<std::string> Sha256OfFile(const std::string&) override { Unexpected(); }

 private:
  [[noreturn]] static void Unexpected() { std::abort(); }
  std::string name_;
  ProfileIndex index_;
};

}  // namespace kalmora::fuzz
