// SPDX-License-Identifier: GPL-3.0-or-later
// The outbox members: what was not sent, sending it again, discarding it.
#include <nlohmann/json.hpp>

#include "moviletta/common/constants.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {

std::string MovilettasImpl::OutboxList() {
  host_thread_.Check(__func__);
  nlohmann::json list = nlohmann::json::array();
  for (const OutboxEntry& entry : outbox_.entries())
    list.push_back({{"id", entry.id},
                    {"when", entry.when},
                    {"label", entry.mail.label},
                    {"recipients", entry.mail.recipients},
                    {"message", entry.mail.message},
                    {"bytes", entry.bytes},
                    {"sending", entry.sending},
                    {"explanation", entry.explanation}});
  return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void MovilettasImpl::OutboxSend(const std::string& id) {
  host_thread_.Check(__func__);
  if (!outbox_.Find(id)) throw Error(err::kInvalidArgument, "The outbox holds no greeting " + id);
  if (!AcceptInStoppedStatus(kRefuseSend)) return;
  Trap trap(reporter_, "OutboxSend");
  RunSend(trap, [&](OutgoingSend& send) REQUIRES(host_thread_) {
    const OutboxEntry* entry = outbox_.Find(id);
    if (!entry || entry->sending) return;  // went meanwhile: told as a send that did not start
    OutboxMail mail = entry->mail;
    // The password is never kept on disk, and goes only to the server it belongs to.
    const ClientSettings& settings = module_.ClientSettings;
    mail.route.password = mail.route.server == settings.SMTPHOST ? settings.SMTPPWD : "";
    BeginSending();
    components_.picGeneral->SetVisible(true);
    trap.section = "send file";
    send.outbox_entry = id;
    send.resent = true;
    outbox_.MarkSending(id);
    sends_.Mail(send, mail);
    SetStatus(STATUS_STOPPED);
  });
}

bool MovilettasImpl::OutboxDiscard(const std::string& id) {
  host_thread_.Check(__func__);
  const OutboxEntry* entry = outbox_.Find(id);
  if (!entry || entry->sending) return false;
  return outbox_.Discard(id);
}

}  // namespace moviletta
