// Files, by names relative to the working directory ('\' separates).
#pragma once

#include <optional>
#include <string>

#include "host/result.h"

namespace kalmora {

class Files {
 public:
  virtual ~Files() = default;
  virtual Status DeleteFile(const std::string& name) = 0;
  // Rename that replaces `to` in one step, so that no moment exists in which
  // neither file is there.
  virtual Status ReplaceFile(const std::string& from, const std::string& to) = 0;
  // A directory search for the exact name; hidden and system files count as
  // missing.
  virtual bool FileExists(const std::string& name) = 0;
  // The file's bytes, or nothing when it cannot be opened.
  virtual std::optional<std::string> ReadFile(const std::string& name) = 0;
  // Creates or truncates the file and writes the bytes.
  virtual Status WriteFile(const std::string& name, const std::string& bytes) = 0;
  // The SHA-256 digest of a file's bytes (32 bytes); nothing when unreadable.
  virtual std::optional<std::string> Sha256OfFile(const std::string& name) = 0;
};

}  // namespace kalmora
