// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/call_dispatcher.h"

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/studio/json_variant.h"
#include "moviletta/safety/object_safety.h"

namespace moviletta::web {
namespace {

using nlohmann::json;

bool SafeForScripting(Movilettas* control) {
  if (!control) return false;
  const Guid dispatch = *GuidFromRegistryText(kIID_IDispatch);
  uint32_t supported = 0, enabled = 0;
  return control->GetInterfaceSafetyOptions(&dispatch, &supported, &enabled) == S_OK &&
         (enabled & INTERFACESAFE_FOR_UNTRUSTED_CALLER);
}

json ErrorReply(const Error& error) {
  return {{"error", {{"number", error.number()}, {"description", error.description()}}}};
}

const Error kAnotherDrives(409, "another page drives the studio");

}  // namespace

CallDispatcher::Answer CallDispatcher::Call(const std::string& caller, const std::string& page,
                                            const std::string& member, MemberKind kind,
                                            std::string_view arguments) {
  if ((kind != MemberKind::kPropertyGet && !driving_.Drives(page)) ||
      !driving_.SessionOf(caller, /*may_begin=*/page.empty()))
    return {409, JsonText(ErrorReply(kAnotherDrives))};
  std::optional<std::vector<Variant>> args;
  try {
    args = ReadCallArguments(arguments);
  } catch (const Error& error) {
    return {200, JsonText(ErrorReply(error))};
  }
  if (!args) return {400, ""};
  struct Waiting {
    std::atomic<int>& calls;
    ~Waiting() { --calls; }
  } waiting{waiting_};
  const std::optional<CallOutcome> result =
      ++waiting_ > kWaitingCalls ? std::nullopt
                                 : OnHostThread(caller, member, kind, std::move(*args));
  if (!result) return {503, ""};
  // A script's call (no page) while no page drives: its session ends a while after the last one.
  if (page.empty()) driving_.CalledUnattended(caller);
  return {200, JsonText(result->error ? ErrorReply(*result->error)
                                      : json{{"value", ToJsonValue(result->value)}})};
}

std::optional<CallOutcome> CallDispatcher::OnHostThread(const std::string& caller,
                                                        const std::string& member, MemberKind kind,
                                                        std::vector<Variant> args) {
  while (driving_.starting_up())
    if (giving_up_())
      return std::nullopt;
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(50));

  auto answer = std::make_shared<std::promise<CallOutcome>>();
  std::future<CallOutcome> outcome = answer->get_future();
  host_.queue().Post([this, caller, member, kind, args = std::move(args), answer] {
    if (!driving_.RunsFor(caller)) return answer->set_value({{}, kAnotherDrives});
    if (!SafeForScripting(site_.control()))
      return answer->set_value({{},
                                Error(err::kPermissionDenied,
                                      "Permission denied: the control is not safe for scripting")});
    answer->set_value(site_.Call(member, kind, args));
  });
  while (outcome.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    if (giving_up_()) return std::nullopt;
  return outcome.get();
}

}  // namespace moviletta::web
