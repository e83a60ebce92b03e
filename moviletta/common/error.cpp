#include "moviletta/common/error.h"

#include <filesystem>
#include <new>

namespace moviletta {

std::string_view StandardDescription(int32_t number) {
  switch (number) {
    case err::kOverflow:
      return "Overflow";
    case err::kOutOfMemory:
      return "Out of memory";
    case err::kDivisionByZero:
      return "Division by zero";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kInternal:
      return "Internal error";
    case err::kFileNotFound:
      return "File not found";
    case err::kPathFileAccess:
      return "Path/File access error";
    case err::kPathNotFound:
      return "Path not found";
    case err::kObjectNotSet:
      return "Object variable or With block variable not set";
    case err::kInvalidPicture:
      return "Invalid picture";
    case err::kGetNotSupportedAtRunTime:
      return "Get not supported at run time";
    case err::kMemberNotFound:
      return "Object doesn't support this property or method";
    case err::kActionNotSupported:
      return "Object doesn't support this action";
    case err::kWrongArgumentCount:
      return "Wrong number of arguments or invalid property assignment";
    default:
      return {};
  }
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
