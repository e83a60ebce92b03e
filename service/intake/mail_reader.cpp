// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/mail_reader.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "service/intake/refused_mail.h"

namespace moviletta::service {
namespace {

struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

struct Free {
  void operator()(char* text) const { g_free(text); }
};

std::string Lower(std::string text) {
  std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The header block's length, or npos when it does not end within `limit` bytes.
std::size_t HeaderLength(std::string_view mail, std::size_t limit) {
  const std::string_view head = mail.substr(0, limit);
  for (const std::string_view end : {"\r\n\r\n", "\n\n"})
    if (const std::size_t at = head.find(end); at != std::string_view::npos) return at;
  return mail.size() <= limit ? mail.size() : std::string_view::npos;
}

// Content-Type lines anywhere in the mail: a bound on its parts before GMime builds them.
int ContentTypeLines(std::string_view mail) {
  int count = 0;
  std::size_t at = 0;
  while (at < mail.size()) {
    const std::size_t end = std::min(mail.find('\n', at), mail.size());
    const std::string_view line = mail.substr(at, std::min<std::size_t>(end - at, 13));
    if (line.size() == 13 && Lower(std::string(line)) == "content-type:") ++count;
    at = end + 1;
  }
  return count;
}

class Walker {
 public:
  Walker(ReadMail& read, const MailLimits& limits) : read_(read), limits_(limits) {}

  void Walk(GMimeObject* object, int depth) {
    if (!object) return;
    if (++parts_ > limits_.parts)
      throw RefusedMail("the mail has more than " + std::to_string(limits_.parts) + " parts");
    if (GMIME_IS_MULTIPART(object)) {
      if (depth >= limits_.depth)
        throw RefusedMail("the mail's parts are nested deeper than " +
                          std::to_string(limits_.depth) + " levels");
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
        Walk(g_mime_multipart_get_part(multipart, i), depth + 1);
      return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) return;  // a forwarded mail is not part of a greeting
    if (!GMIME_IS_PART(object)) return;
    GMimePart* part = GMIME_PART(object);
    const std::unique_ptr<char, Free> type(
        g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object)));
    const std::string mime_type = Lower(type ? type.get() : "");
    const char* name = g_mime_part_get_filename(part);
    if (mime_type == "text/plain" && !name && read_.text.empty() && GMIME_IS_TEXT_PART(object)) {
      const std::unique_ptr<char, Free> text(g_mime_text_part_get_text(GMIME_TEXT_PART(object)));
      if (text) read_.text = text.get();
      return;
    }
    read_.attachments.push_back({name ? name : "", mime_type, Decoded(part)});
  }

 private:
  static std::string Decoded(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    Owned<GMimeStream> out(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0)
      throw RefusedMail("an attachment cannot be decoded");
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
  }

  ReadMail& read_;
  const MailLimits& limits_;
  int parts_ = 0;
};

}  // namespace

ReadMail ReadMailBytes(std::string_view mail, const MailLimits& limits) {
  static std::once_flag ready;
  std::call_once(ready, [] { g_mime_init(); });
  if (mail.empty()) throw RefusedMail("the mail is empty");
  if (HeaderLength(mail, limits.header_bytes) == std::string_view::npos)
    throw RefusedMail("the mail's header is longer than " +
                      std::to_string(limits.header_bytes >> 10) + " KB");
  if (ContentTypeLines(mail) > 2 * limits.parts)
    throw RefusedMail("the mail has more than " + std::to_string(limits.parts) + " parts");

  Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(mail.data(), mail.size()));
  Owned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  Owned<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!message) throw RefusedMail("the input is not a mail");
  ReadMail read;
  if (const char* id = g_mime_message_get_message_id(message.get())) read.message_id = id;
  if (const char* subject = g_mime_message_get_subject(message.get())) read.subject = subject;
  Walker(read, limits).Walk(g_mime_message_get_mime_part(message.get()), 0);
  return read;
}

}  // namespace moviletta::service
