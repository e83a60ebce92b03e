// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/dispatch/curl_mail_sender.h"

extern "C" {
#include <libavutil/base64.h>
}

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <random>
#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/common/loopback.h"
#include "moviletta/common/start_thread.h"
#include "moviletta/curl/handles.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

// Why a send cannot go out; the text is what the user reads.
struct Refused {
  std::string explanation;
};

// The encoded words' text in Base64 (libavutil's encoder, linked already for the media).
std::string Base64(std::string_view bytes) {
  std::string out(AV_BASE64_SIZE(bytes.size()), '\0');
  av_base64_encode(out.data(), static_cast<int>(out.size()),
                   reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(out.size() - 1);  // the terminating zero
  return out;
}

void CheckAddress(const std::string& address, const char* what) {
  const bool ok = !address.empty() && address.find_first_of("<>,;\\\" ") == std::string::npos &&
                  std::none_of(address.begin(), address.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x21 || c == 0x7F;
                  });
  if (!ok) throw Refused{std::string("The ") + what + " address \"" + address + "\" is not valid."};
}

std::string SmtpUrl(const std::string& host) {
  const bool ok = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
           c == '[' || c == ']';
  });
  if (!ok) throw Refused{"The mail server \"" + host + "\" is not valid."};
  const bool has_port = host.find(':') != std::string::npos && host.back() != ']';
  return "smtp://" + host + (has_port ? "" : ":25");
}

const char* ContentType(const fs::path& file) {
  std::string extension = file.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".wmv") return "video/x-ms-wmv";
  if (extension == ".mpg" || extension == ".mpeg") return "video/mpeg";
  if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
  if (extension == ".avi") return "video/x-msvideo";
  return "application/octet-stream";
}

std::string DateHeader() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "Date: %s, %02d %s %04d %02d:%02d:%02d +0000",
                kDays[utc.tm_wday], utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string MessageIdHeader() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return "Message-ID: <" + std::to_string(std::time(nullptr)) + "." + std::to_string(random()) +
         "@moviletta>";
}

struct Transfer {
  const std::atomic<bool>* cancel;
  curl::Line* line;
  std::function<void(int32_t)> progress;
  int32_t last = -1;
  // What the mail comes to once encoded, near enough: libcurl does not know the size of encoded
  // parts, so the share sent is told against this.
  curl_off_t expected = 0;
  std::string last_reply;  // the server's last line, for the explanation
  std::string failure;     // what failed inside a callback
};

// libcurl's callbacks: nothing may leave them; a failure aborts the transfer and is told.
int OnUploadProgress(void* user, curl_off_t, curl_off_t, curl_off_t total, curl_off_t now) {
  auto* t = static_cast<Transfer*>(user);
  if (*t->cancel) return 1;
  try {
    const curl_off_t whole = total > 0 ? total : t->expected;
    if (whole > 0 && t->progress) {
      // An estimate stops short of the end: 100 is the server's acceptance.
      const auto percent = static_cast<int32_t>(std::min<curl_off_t>(now * 100 / whole, 99));
      if (percent != t->last) t->progress(t->last = percent);
    }
  } catch (...) {
    t->failure = Error::FromCurrent().description();
    return 1;
  }
  return 0;
}

int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  try {
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    static_cast<Transfer*>(user)->last_reply = line;
  } catch (...) {  // only the explanation would miss the server's last line
  }
  return 0;
}

// Whether the mail server "host" or "host:port" is on this machine.
bool IsLoopback(const std::string& host) {
  return IsLoopbackHost(host.starts_with("[") ? host.substr(0, host.find(']') + 1)
                                              : host.substr(0, host.find(':')));
}

// What one send mails, as the sender was set up.
struct Mail {
  const std::string& host;
  const std::string& from;
  const std::string& password;
  const std::string& to;
  const std::string& label;
  const std::string& body;
  const std::string& attachments;
  const std::string& delimiter;
};

curl::List HeaderLines(const Mail& mail) {
  curl::List headers;
  for (const std::string& line :
       {DateHeader(), MessageIdHeader(), "From: <" + mail.from + ">", "To: <" + mail.to + ">",
        "Subject: " + CurlMailSender::SubjectFor(mail.label), std::string("MIME-Version: 1.0")}) {
    if (!curl::Append(headers, line.c_str())) throw Refused{"The mail cannot be prepared."};
  }
  return headers;
}

// The body as quoted-printable text, then every file of the attachment list in base64; adds
// their encoded size to `expected`.
curl::Mime MessageParts(CURL* h, const Mail& mail, curl_off_t& expected) {
  // Base64 takes 4 bytes for 3, in lines of 76 and a line break; each part's headers about 200.
  const auto base64 = [](uintmax_t bytes) {
    return static_cast<curl_off_t>((bytes + 2) / 3 * 4 * 78 / 76 + 200);
  };
  expected += static_cast<curl_off_t>(mail.body.size() * 11 / 10 + 1000);
  curl::Mime mime(curl_mime_init(h));
  curl_mimepart* text = curl_mime_addpart(mime.get());
  curl_mime_data(text, mail.body.data(), mail.body.size());
  curl_mime_type(text, "text/plain; charset=UTF-8");
  curl_mime_encoder(text, "quoted-printable");
  const std::string& list = mail.attachments;
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = mail.delimiter.empty() ? std::string::npos : list.find(mail.delimiter, start);
    if (end == std::string::npos) end = list.size();
    const std::string path = list.substr(start, end - start);
    start = end + std::max<std::size_t>(mail.delimiter.size(), 1);
    if (path.empty()) continue;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw Refused{"The file " + path + " cannot be attached."};
    if (const uintmax_t bytes = fs::file_size(path, ec); !ec) expected += base64(bytes);
    curl_mimepart* part = curl_mime_addpart(mime.get());
    if (curl_mime_filedata(part, path.c_str()) != CURLE_OK)
      throw Refused{"The file " + path + " cannot be attached."};
    curl_mime_type(part, ContentType(path));
    curl_mime_encoder(part, "base64");
  }
  return mime;
}

// Sends `mail` in one transfer. Returns what the user reads when it failed, empty when the
// server took the mail; throws Refused for a mail that cannot go out as it is.
std::string Perform(const Mail& mail, const SmtpOptions& options, Transfer& transfer) {
  const std::string url = SmtpUrl(mail.host);
  CheckAddress(mail.from, "sender");
  CheckAddress(mail.to, "recipient");
  char error_text[CURL_ERROR_SIZE] = {};  // outlives the handle that writes into it
  curl::Easy easy(curl_easy_init());
  if (!easy) throw Refused{"The mail cannot be prepared."};
  CURL* h = easy.get();
  curl::List recipients(curl_slist_append(nullptr, ("<" + mail.to + ">").c_str()));
  const curl::List headers = HeaderLines(mail);
  const curl::Mime mime = MessageParts(h, mail, transfer.expected);

  const auto set = [h](CURLoption option, auto value) {
    if (!curl::Set(h, option, value)) throw Refused{"The mail cannot be prepared."};
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "smtp");
  set(CURLOPT_NOSIGNAL, 1L);
  if (!transfer.line->Use(h)) throw Refused{"The mail cannot be prepared."};
  const bool must_encrypt =
      !mail.password.empty() && !(options.trust_loopback && IsLoopback(mail.host));
  set(CURLOPT_USE_SSL, static_cast<long>(must_encrypt ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  set(CURLOPT_MAIL_FROM, ("<" + mail.from + ">").c_str());
  set(CURLOPT_MAIL_RCPT, recipients.get());
  if (!mail.password.empty()) {
    set(CURLOPT_USERNAME, mail.from.c_str());
    set(CURLOPT_PASSWORD, mail.password.c_str());
  }
  set(CURLOPT_HTTPHEADER, headers.get());
  set(CURLOPT_MIMEPOST, mime.get());
  set(CURLOPT_UPLOAD, 1L);
  const long response_seconds = static_cast<long>((options.response_timeout.count() + 999) / 1000);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout.count()));
  set(CURLOPT_SERVER_RESPONSE_TIMEOUT, response_seconds);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, response_seconds);
  set(CURLOPT_ERRORBUFFER, error_text);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, OnUploadProgress);
  set(CURLOPT_XFERINFODATA, &transfer);
  set(CURLOPT_VERBOSE, 1L);
  set(CURLOPT_DEBUGFUNCTION, OnDebug);
  set(CURLOPT_DEBUGDATA, &transfer);

  const CURLcode rc = curl_easy_perform(h);
  if (rc == CURLE_OK) return "";
  if (rc == CURLE_USE_SSL_FAILED && must_encrypt)
    return "The mail could not be sent: the mail server " + mail.host +
           " offers no encrypted connection, and the password is never sent without one.";
  std::string explanation = "The mail could not be sent: ";
  explanation += !transfer.failure.empty() ? transfer.failure
                 : *error_text             ? error_text
                                           : curl_easy_strerror(rc);
  if (!transfer.last_reply.empty() && transfer.last_reply[0] >= '4')
    explanation += " (" + transfer.last_reply + ")";
  return explanation;
}

}  // namespace

CurlMailSender::CurlMailSender(SmtpOptions options) : options_(options) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlMailSender::~CurlMailSender() {
  Cut();
}

void CurlMailSender::OnProgress(std::function<void(int32_t)> progress) {
  progress_.Set(std::move(progress));
}

void CurlMailSender::OnSendFailed(std::function<void(std::string)> send_failed) {
  failed_.Set(std::move(send_failed));
}

void CurlMailSender::OnSendSuccesful(std::function<void()> send_succesful) {
  succesful_.Set(std::move(send_succesful));
}

void CurlMailSender::Send() {
  if (worker_.joinable()) throw Error(err::kComponentFailed, "a send is running", "Moviletta.Mail");
  worker_ = StartThread([this] { Run(); }, "the mail", "Moviletta.Mail");
}

void CurlMailSender::Disconnect() {
  Cut();
  cancel_ = false;
  line_.Reset();
}

void CurlMailSender::Cut() {
  cancel_ = true;
  line_.Cut();
  if (worker_.joinable()) worker_.join();
}

void CurlMailSender::Reset() {
  host_.clear(), from_.clear(), password_.clear(), to_.clear();
  label_.clear(), body_.clear(), attachments_.clear();
}

std::string CurlMailSender::SubjectFor(const std::string& label) {
  std::string clean = label;
  bool plain = true;
  for (char& c : clean) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
    if (byte >= 0x80) plain = false;
  }
  constexpr std::size_t kLine = 78 - std::char_traits<char>::length("Subject: ");
  if (plain && clean.size() <= kLine) return clean;
  // Encoded words of at most 42 bytes of text each (56 base64 characters, 68 in all), one per
  // folded line, so that no line passes 78 characters, "Subject: " included, whatever the label;
  // UTF-8 sequences are not cut.
  std::string subject;
  for (std::size_t start = 0; start < clean.size();) {
    std::size_t end = std::min(start + 42, clean.size());
    while (end < clean.size() && end > start + 1 &&
           (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80)
      --end;
    if (!subject.empty()) subject += "\r\n ";
    subject += "=?UTF-8?B?" + Base64(std::string_view(clean).substr(start, end - start)) + "?=";
    start = end;
  }
  return subject;
}

void CurlMailSender::Run() {
  Transfer transfer{&cancel_, &line_, progress_.Get(), -1, 0, {}, {}};
  const Mail mail{host_, from_, password_, to_, label_, body_, attachments_, delimiter_};
  std::string explanation;
  try {
    explanation = Perform(mail, options_, transfer);
  } catch (const Refused& refused) {
    explanation = refused.explanation;
  } catch (...) {
    explanation = "The mail could not be sent: " + Error::FromCurrent().description();
  }
  if (cancel_) return;
  try {
    if (explanation.empty() && transfer.progress && transfer.last != 100) transfer.progress(100);
  } catch (...) {
    explanation = "The mail could not be sent: " + Error::FromCurrent().description();
  }
  try {
    if (!explanation.empty())
      failed_(explanation);
    else
      succesful_();
  } catch (...) {  // the host could not take the result; nothing on this thread can tell it
  }
}

MailSenderFactory CurlMailSenderFactory(SmtpOptions options) {
  return [options] { return std::make_unique<CurlMailSender>(options); };
}

}  // namespace moviletta
