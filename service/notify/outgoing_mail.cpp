// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/notify/outgoing_mail.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

namespace moviletta::service {
namespace {

struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

// A line-free copy: a value that reaches a header never carries a line break.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

Owned<GMimeTextPart> TextPart(const char* subtype, const std::string& text) {
  Owned<GMimeTextPart> part(g_mime_text_part_new_with_subtype(subtype));
  g_mime_text_part_set_text(part.get(), text.c_str());
  g_mime_text_part_set_charset(part.get(), "utf-8");
  g_mime_part_set_content_encoding(GMIME_PART(part.get()), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  return part;
}

}  // namespace

std::string ComposeMail(const OutgoingMail& mail) {
  static std::once_flag ready;
  std::call_once(ready, [] { g_mime_init(); });
  Owned<GMimeMessage> message(g_mime_message_new(TRUE));
  g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_FROM,
                             OneLine(mail.from_name).c_str(), OneLine(mail.from_address).c_str());
  g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_TO, OneLine(mail.to_name).c_str(),
                             OneLine(mail.to_address).c_str());
  g_mime_message_set_subject(message.get(), OneLine(mail.subject).c_str(), "utf-8");
  g_mime_message_set_message_id(message.get(), OneLine(mail.message_id).c_str());
  GDateTime* now = g_date_time_new_now_utc();
  g_mime_message_set_date(message.get(), now);
  g_date_time_unref(now);

  Owned<GMimeTextPart> text = TextPart("plain", mail.text);
  if (mail.html.empty()) {
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
  } else {
    Owned<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(text.get()));
    Owned<GMimeTextPart> html = TextPart("html", mail.html);
    g_mime_multipart_add(alternative.get(), GMIME_OBJECT(html.get()));
    if (mail.poster.empty()) {
      g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(alternative.get()));
    } else {
      Owned<GMimeMultipart> related(g_mime_multipart_new_with_subtype("related"));
      g_mime_multipart_add(related.get(), GMIME_OBJECT(alternative.get()));
      Owned<GMimePart> poster(g_mime_part_new_with_type("image", "jpeg"));
      Owned<GMimeStream> bytes(
          g_mime_stream_mem_new_with_buffer(mail.poster.data(), mail.poster.size()));
      Owned<GMimeDataWrapper> content(
          g_mime_data_wrapper_new_with_stream(bytes.get(), GMIME_CONTENT_ENCODING_DEFAULT));
      g_mime_part_set_content(poster.get(), content.get());
      g_mime_part_set_content_encoding(poster.get(), GMIME_CONTENT_ENCODING_BASE64);
      g_mime_part_set_content_id(poster.get(), "poster@moviletta");
      g_mime_part_set_filename(poster.get(), "poster.jpg");
      g_mime_object_set_disposition(GMIME_OBJECT(poster.get()), "inline");
      g_mime_multipart_add(related.get(), GMIME_OBJECT(poster.get()));
      g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(related.get()));
    }
  }
  GMimeFormatOptions* options = g_mime_format_options_clone(nullptr);
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  char* raw = g_mime_object_to_string(GMIME_OBJECT(message.get()), options);
  g_mime_format_options_free(options);
  std::string composed = raw ? raw : "";
  g_free(raw);
  return composed;
}

}  // namespace moviletta::service
