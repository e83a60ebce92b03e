// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace moviletta {

// Run-time error numbers. The classic numbers keep their platform meaning; the control's own
// components raise numbers above kObjectError (negative, top bit set).
namespace err {
inline constexpr int32_t kInvalidArgument = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kDivisionByZero = 11;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInternal = 51;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kFileAlreadyExists = 58;
inline constexpr int32_t kDiskFull = 61;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kPathFileAccess = 75;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kElementMissing = 340;
inline constexpr int32_t kAlreadyLoaded = 360;
inline constexpr int32_t kDesignTimeElement = 362;
inline constexpr int32_t kInvalidPicture = 481;
inline constexpr int32_t kGetNotSupportedAtRunTime = 393;
inline constexpr int32_t kMemberNotFound = 438;
inline constexpr int32_t kActionNotSupported = 445;
inline constexpr int32_t kWrongArgumentCount = 450;

inline constexpr int32_t kObjectError = INT32_MIN + 0x40000;  // 0x80040000
inline constexpr int32_t kHttpRequestFailed = kObjectError + 0x101;
inline constexpr int32_t kHttpTimeout = kObjectError + 0x102;
inline constexpr int32_t kHttpBodyTooLarge = kObjectError + 0x103;
inline constexpr int32_t kHttpStatus = kObjectError + 0x104;
inline constexpr int32_t kComponentFailed = kObjectError + 0x201;
}  // namespace err

// The platform's standard text for a classic error number; empty for numbers it does not know.
std::string_view StandardDescription(int32_t number);

// The one failure type of the control: number, description and the part that raised it, plus
// the operating-system error code of the platform call that failed (0 when none did).
class Error : public std::runtime_error {
 public:
  // Uses the standard description of `number`.
  explicit Error(int32_t number);
  Error(int32_t number, std::string description, std::string source = "Moviletta",
        int32_t os_error = 0);

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }
  int32_t os_error() const { return os_error_; }

  // Turns any exception into an Error: itself, 7 for an allocation failure, 75 for a file
  // system failure, 51 otherwise.
  static Error From(const std::exception& e);
  // The exception in flight, as an Error; call only inside a catch block.
  static Error FromCurrent();

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
  int32_t os_error_;
};

}  // namespace moviletta
