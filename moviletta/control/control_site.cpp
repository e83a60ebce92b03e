// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/control_site.h"

namespace moviletta {
namespace {

template <class Step>
std::optional<Error> AsScriptError(Step&& step) {
  try {
    step();
  } catch (...) {
    return Error::FromCurrent();
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> ControlSite::Create(Components components, ControlConfig config,
                                         bool new_instance) {
  Destroy();
  if (std::optional<Error> refused = AsScriptError([&] {
        control_ =
            Movilettas::Create(host_, queue_, module_, std::move(components), std::move(config));
      }))
    return refused;
  std::optional<Error> failure = AsScriptError([&] { control_->UserControl_Initialize(); });
  std::optional<Error> properties = AsScriptError([&] {
    if (new_instance)
      control_->UserControl_InitProperties();
    else
      control_->UserControl_ReadProperties();
  });
  return failure ? failure : properties;
}

CallOutcome ControlSite::Call(std::string_view member, MemberKind kind, std::vector<Variant> args) {
  CallOutcome outcome;
  if (!control_) {
    outcome.error = Error(err::kObjectNotSet);
    return outcome;
  }
  outcome.error =
      AsScriptError([&] { outcome.value = InvokeMember(*control_, member, kind, args); });
  return outcome;
}

std::optional<Error> ControlSite::RestoreProperties() {
  if (!control_) return std::nullopt;
  return AsScriptError([&] {
    const Guid bag = *GuidFromRegistryText(kIID_IPersistPropertyBag);
    uint32_t supported = 0, enabled = 0;
    if (control_->GetInterfaceSafetyOptions(&bag, &supported, &enabled) == S_OK &&
        (enabled & INTERFACESAFE_FOR_UNTRUSTED_DATA))
      control_->UserControl_ReadProperties();
  });
}

std::optional<Error> ControlSite::SaveProperties() {
  if (!control_) return std::nullopt;
  return AsScriptError([&] { control_->UserControl_WriteProperties(); });
}

std::optional<Error> ControlSite::Destroy() {
  if (!control_) return std::nullopt;
  std::optional<Error> failure = SaveProperties();
  std::optional<Error> shutdown = AsScriptError([&] { control_->UserControl_Terminate(); });
  control_.reset();
  return failure ? failure : shutdown;
}

}  // namespace moviletta
