// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "moviletta/common/variant.h"

namespace moviletta {

class Movilettas;

enum class MemberKind { kMethod, kPropertyGet, kPropertyPut };

// One member of the scripting surface as a host calls it by name.
struct DispatchMember {
  std::string_view name;
  int32_t dispid;
  MemberKind kind;
  std::size_t arity;
  // Converts the arguments and calls the member; by-reference arguments are updated in `args`.
  Variant (*invoke)(Movilettas& control, std::vector<Variant>& args);
};

// The members in the order of the default interface.
std::span<const DispatchMember> DispatchTable();

// Nothing when the control has no such member.
const DispatchMember* FindMember(std::string_view name, MemberKind kind);

// Calls a member on the host thread. Throws Error 438 for an unknown member, 450 for a wrong
// number of arguments, 13 or 6 for an argument that does not convert, and what the member throws.
Variant InvokeMember(Movilettas& control, std::string_view name, MemberKind kind,
                     std::vector<Variant>& args);

}  // namespace moviletta
