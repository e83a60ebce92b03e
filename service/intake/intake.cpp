// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/intake.h"

#include <algorithm>
#include <system_error>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "service/intake/media_check.h"
#include "service/intake/refused_mail.h"
#include "service/store/store_errors.h"
#include "service/web/secrets.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Intake";

std::string Lowered(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool EndsWith(const std::string& name, std::string_view end) {
  return Lowered(name).ends_with(end);
}

// The attachment that is the greeting's video and the one that is its snapshot.
const MailAttachment* Video(const ReadMail& mail) {
  for (const MailAttachment& a : mail.attachments)
    if (a.type.starts_with("video/") || EndsWith(a.name, ".wmv") || EndsWith(a.name, ".mpg") ||
        EndsWith(a.name, ".mpeg"))
      return &a;
  return nullptr;
}

const MailAttachment* Snapshot(const ReadMail& mail) {
  for (const MailAttachment& a : mail.attachments)
    if (a.type == "image/jpeg" || EndsWith(a.name, ".jpg") || EndsWith(a.name, ".jpeg")) return &a;
  return nullptr;
}

}  // namespace

Intake::Intake(Greetings& greetings, fs::path data, Clock clock, IntakeLimits limits)
    : greetings_(greetings),
      data_(std::move(data)),
      clock_(std::move(clock)),
      limits_(std::move(limits)) {}

IntakeOutcome Intake::Deliver(std::string_view mail, const std::string& envelope_recipient,
                              const std::string& site) {
  IntakeOutcome outcome;
  try {
    if (mail.size() > limits_.mail_bytes)
      throw RefusedMail("the mail is larger than " + std::to_string(limits_.mail_bytes >> 20) +
                        " MB");
    outcome.greeting = Keep(mail, SiteFor(envelope_recipient, site));
    outcome.reason = "taken in as greeting " + std::to_string(outcome.greeting);
    return outcome;
  } catch (const RefusedMail& refused) {
    outcome.status = IntakeOutcome::kNever;
    outcome.reason = refused.what();
  } catch (const Error& e) {
    outcome.status = IntakeOutcome::kLater;
    outcome.reason = e.description();
    return outcome;
  } catch (const std::exception& e) {
    outcome.status = IntakeOutcome::kLater;
    outcome.reason = e.what();
    return outcome;
  }
  try {
    KeepInQuarantine(mail.substr(0, limits_.mail_bytes), outcome.reason);
  } catch (const std::exception& e) {
    // Refused all the same: the mail server returns it to its sender with the reason.
    outcome.reason += " (not kept in quarantine: " + std::string(e.what()) + ")";
  }
  return outcome;
}

int64_t Intake::SiteFor(const std::string& envelope_recipient, const std::string& site) {
  const std::vector<SiteDrop> drops = greetings_.SiteDrops();
  for (const SiteDrop& d : drops)
    if (site.empty() ? !envelope_recipient.empty() && Lowered(d.drop) == Lowered(envelope_recipient)
                     : d.host == site)
      return d.site;
  if (!site.empty()) throw RefusedMail("there is no site " + site);
  if (drops.size() == 1) return drops[0].site;
  throw RefusedMail("no site's mail drop is " +
                    (envelope_recipient.empty() ? std::string("unnamed") : envelope_recipient));
}

int64_t Intake::Keep(std::string_view mail, int64_t site) {
  const ReadMail read = ReadMailBytes(mail, limits_.mail);
  const GreetingText text = ReadGreetingText(read.text, limits_.greeting);
  const MailAttachment* video = Video(read);
  const MailAttachment* snapshot = Snapshot(read);
  if (!video) throw RefusedMail("the mail carries no video");
  if (!snapshot) throw RefusedMail("the mail carries no snapshot");

  Greeting greeting;
  greeting.site = site;
  greeting.mail_key = read.message_id + " " + TokenDigest(mail);
  greeting.kind = text.kind;
  greeting.token = RandomHex(24);
  greeting.delete_token = RandomHex(24);
  greeting.sender_name = text.sender_name, greeting.sender_email = text.sender_email;
  greeting.message = text.message, greeting.installation = text.installation;
  greeting.version = text.version;
  greeting.taken_at = clock_();
  greeting.recipients = text.recipients;
  if (!text.sender_email.empty())
    greeting.recipients.push_back(
        {0, "sender", text.sender_name, "", text.sender_email, "waiting"});

  // The files first, synced under a hidden name and then renamed into place: what the records
  // name is whole on the disk.
  const fs::path media = data_ / "media";
  MakeOwnFolder(media, kSource);
  const fs::path incoming = media / ("." + greeting.token);
  const fs::path kept = media / greeting.token;
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ignored;
      if (!path.empty()) fs::remove_all(path, ignored);
    }
  } cleanup{incoming};
  MakeOwnFolder(incoming, kSource);
  const std::string extension =
      EndsWith(video->name, ".wmv") || video->type == "video/x-ms-wmv" ? ".wmv" : ".mpg";
  const fs::path video_file = incoming / ("greeting" + extension);
  WriteFileWhole(video_file.string(), video->bytes, kSource, true, true);
  WriteFileWhole((incoming / "snapshot.jpg").string(), snapshot->bytes, kSource, true, true);
  greeting.seconds_ms =
      static_cast<int64_t>(CheckVideo(video_file.string(), limits_.video_seconds).seconds * 1000);
  CheckJpeg((incoming / "snapshot.jpg").string());
  SyncToDisk(incoming);
  fs::rename(incoming, kept);
  cleanup.path = kept;  // until the records hold it
  SyncToDisk(media);

  bool kept_now = false;
  const int64_t id = greetings_.Take(greeting, &kept_now);
  if (kept_now) cleanup.path.clear();  // new: the files stay; a mail taken before keeps its own
  return id;
}

void Intake::KeepInQuarantine(std::string_view mail, const std::string& reason) {
  const fs::path folder = data_ / "quarantine";
  MakeOwnFolder(folder, kSource);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
  const fs::path file = folder / (std::to_string(seconds) + "-" + RandomHex(6) + ".eml");
  WriteFileWhole(file.string(), mail, kSource, true, true);
  greetings_.Quarantine({clock_(), reason, file.filename().string()});
}

}  // namespace moviletta::service
