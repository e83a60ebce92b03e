// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/error.h"

#include <filesystem>
#include <new>
#include <utility>

namespace moviletta {

std::string_view StandardDescription(int32_t number) {
  static constexpr std::pair<int32_t, std::string_view> kTexts[] = {
      {err::kInvalidArgument, "Invalid procedure call or argument"},
      {err::kOverflow, "Overflow"},
      {err::kOutOfMemory, "Out of memory"},
      {err::kSubscriptOutOfRange, "Subscript out of range"},
      {err::kDivisionByZero, "Division by zero"},
      {err::kTypeMismatch, "Type mismatch"},
      {err::kInternal, "Internal error"},
      {err::kFileNotFound, "File not found"},
      {err::kFileAlreadyExists, "File already exists"},
      {err::kPermissionDenied, "Permission denied"},
      {err::kPathFileAccess, "Path/File access error"},
      {err::kPathNotFound, "Path not found"},
      {err::kObjectNotSet, "Object variable or With block variable not set"},
      {err::kElementMissing, "Control array element doesn't exist"},
      {err::kAlreadyLoaded, "Object already loaded"},
      {err::kDesignTimeElement, "Can't unload controls created at design time"},
      {err::kGetNotSupportedAtRunTime, "Get not supported at run time"},
      {err::kMemberNotFound, "Object doesn't support this property or method"},
      {err::kActionNotSupported, "Object doesn't support this action"},
      {err::kWrongArgumentCount, "Wrong number of arguments or invalid property assignment"},
      {err::kInvalidPicture, "Invalid picture"},
  };
  for (const auto& [known, text] : kTexts)
    if (known == number) return text;
  return {};
}

Error::Error(int32_t number) : Error(number, std::string(StandardDescription(number))) {}

Error::Error(int32_t number, std::string description, std::string source, int32_t os_error)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)),
      os_error_(os_error) {}

Error Error::From(const std::exception& e) {
  if (auto* own = dynamic_cast<const Error*>(&e)) return *own;
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Error(err::kOutOfMemory);
  if (auto* fs_error = dynamic_cast<const std::filesystem::filesystem_error*>(&e))
    return Error(err::kPathFileAccess, fs_error->what(), "Moviletta", fs_error->code().value());
  return Error(err::kInternal, e.what());
}

Error Error::FromCurrent() {
  try {
    throw;
  } catch (const std::exception& e) {
    return From(e);
  } catch (...) {
    return Error(err::kInternal);
  }
}

}  // namespace moviletta
