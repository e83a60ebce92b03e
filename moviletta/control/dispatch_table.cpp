// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/dispatch_table.h"

#include <algorithm>
#include <array>
#include <string>

#include "moviletta/common/constants.h"
#include "moviletta/common/error.h"
#include "moviletta/control/movilettas.h"

namespace moviletta {
namespace {

using Args = std::vector<Variant>;
using K = MemberKind;

std::string S(const Args& a, std::size_t i) {
  return a[i].ToText();
}
int32_t L(const Args& a, std::size_t i) {
  return a[i].ToLong();
}
double D(const Args& a, std::size_t i) {
  return a[i].ToDouble();
}

constexpr std::array kTable{
    DispatchMember{"StatusChanged", dispid::StatusChanged, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.StatusChanged(), Variant(); }},
    DispatchMember{"ErrMsgChanged", dispid::ErrMsgChanged, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.ErrMsgChanged(), Variant(); }},
    DispatchMember{"SkinPath", dispid::SkinPath, K::kPropertyGet, 0,
                   [](Movilettas& c, Args&) { return Variant(c.SkinPath()); }},
    DispatchMember{"RecordVideo", dispid::RecordVideo, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.RecordVideo(), Variant(); }},
    DispatchMember{"PlayVideo", dispid::PlayVideo, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.PlayVideo(), Variant(); }},
    DispatchMember{"StopVideo", dispid::StopVideo, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.StopVideo(), Variant(); }},
    DispatchMember{"Miror", dispid::Miror, K::kPropertyGet, 0,
                   [](Movilettas& c, Args&) { return Variant(c.Miror()); }},
    DispatchMember{"ClientStatus", dispid::ClientStatus, K::kPropertyGet, 0,
                   [](Movilettas& c, Args&) { return Variant(c.ClientStatus()); }},
    DispatchMember{"ErrMsg", dispid::ErrMsg, K::kPropertyGet, 0,
                   [](Movilettas& c, Args&) { return Variant(c.ErrMsg()); }},
    DispatchMember{"Miror", dispid::Miror, K::kPropertyPut, 1,
                   [](Movilettas& c, Args& a) { return c.Miror(a[0].ToBoolean()), Variant(); }},
    DispatchMember{"SendByEmail", dispid::SendByEmail, K::kMethod, 6,
                   [](Movilettas& c, Args& a) {
                     c.SendByEmail(S(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4), S(a, 5));
                     return Variant();
                   }},
    DispatchMember{"SendGreeting", dispid::SendGreeting, K::kMethod, 7,
                   [](Movilettas& c, Args& a) {
                     c.SendGreeting(L(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4), S(a, 5), L(a, 6));
                     return Variant();
                   }},
    DispatchMember{"GetInstallationID", dispid::GetInstallationID, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return Variant(c.GetInstallationID()); }},
    DispatchMember{"LoadSkin", dispid::LoadSkin, K::kMethod, 1,
                   [](Movilettas& c, Args& a) { return c.LoadSkin(L(a, 0)), Variant(); }},
    DispatchMember{
        "SetVideoSize", dispid::SetVideoSize, K::kMethod, 2,
        [](Movilettas& c, Args& a) { return c.SetVideoSize(L(a, 0), L(a, 1)), Variant(); }},
    DispatchMember{"LoadClientSettings", dispid::LoadClientSettings, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.LoadClientSettings(); }},
    DispatchMember{"SetXMLNode", dispid::SetXMLNode, K::kMethod, 2,
                   [](Movilettas& c, Args& a) { return c.SetXMLNode(a[0], a[1]); }},
    DispatchMember{"GenerateMessageXML", dispid::GenerateMessageXML, K::kMethod, 7,
                   [](Movilettas& c, Args& a) {
                     return c.GenerateMessageXML(L(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4),
                                                 S(a, 5), L(a, 6));
                   }},
    DispatchMember{"OutboxList", dispid::OutboxList, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return Variant(c.OutboxList()); }},
    DispatchMember{"OutboxSend", dispid::OutboxSend, K::kMethod, 1,
                   [](Movilettas& c, Args& a) { return c.OutboxSend(S(a, 0)), Variant(); }},
    DispatchMember{"OutboxDiscard", dispid::OutboxDiscard, K::kMethod, 1,
                   [](Movilettas& c, Args& a) { return Variant(c.OutboxDiscard(S(a, 0))); }},
    DispatchMember{"TrimTake", dispid::TrimTake, K::kMethod, 2,
                   [](Movilettas& c, Args& a) { return c.TrimTake(D(a, 0), D(a, 1)), Variant(); }},
    DispatchMember{"TakeSeconds", dispid::TakeSeconds, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return Variant(c.TakeSeconds()); }},
    DispatchMember{"PauseVideo", dispid::PauseVideo, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.PauseVideo(), Variant(); }},
    DispatchMember{"ResumeVideo", dispid::ResumeVideo, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return c.ResumeVideo(), Variant(); }},
    DispatchMember{"CancelSend", dispid::CancelSend, K::kMethod, 0,
                   [](Movilettas& c, Args&) { return Variant(c.CancelSend()); }},
};

}  // namespace

std::span<const DispatchMember> DispatchTable() {
  return kTable;
}

const DispatchMember* FindMember(std::string_view name, MemberKind kind) {
  const auto found = std::find_if(kTable.begin(), kTable.end(), [&](const DispatchMember& m) {
    return m.name == name && m.kind == kind;
  });
  return found == kTable.end() ? nullptr : &*found;
}

Variant InvokeMember(Movilettas& control, std::string_view name, MemberKind kind,
                     std::vector<Variant>& args) {
  const DispatchMember* member = FindMember(name, kind);
  if (!member)
    throw Error(err::kMemberNotFound,
                std::string(StandardDescription(err::kMemberNotFound)) + ": " + std::string(name));
  if (args.size() != member->arity) throw Error(err::kWrongArgumentCount);
  return member->invoke(control, args);
}

}  // namespace moviletta
