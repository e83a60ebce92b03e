// SPDX-License-Identifier: GPL-3.0-or-later
// Mails a 30 MB attachment to a local SMTP server that discards what it takes, with the control's
// sender and with the curl command line (smtp URL, MIME parts, base64), pair by pair.
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "bench/bench_util.h"
#include "moviletta/dispatch/curl_mail_sender.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/mail_drop.h"

using namespace moviletta;
namespace fs = std::filesystem;

int main() {
  const fs::path folder = fs::temp_directory_path() / "moviletta-bench-mail";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string attachment = (folder / "Moviletta.wmv").string();
  std::string bytes(30 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 2654435761u >> 13);
  testing::WriteFile(attachment, bytes);
  testing::MailDrop drop({"--discard"});

  const auto ours = [&] {
    CurlMailSender sender;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    const auto finish = [&] {
      std::lock_guard lock(mutex);
      finished = true;
      done.notify_all();
    };
    sender.OnSendFailed([&](std::string why) {
      std::fprintf(stderr, "failed: %s\n", why.c_str());
      finish();
    });
    sender.OnSendSuccesful(finish);
    sender.SetSmtpHost(drop.host());
    sender.SetSenderAddress("studio@test");
    sender.SetRecipientAddress("drop@test");
    sender.SetMailLabel("MovilettaStudio");
    sender.SetMessageBody("body");
    sender.SetAttachmentList(attachment);
    sender.Send();
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
  };
  const std::string curl = "curl -s --url smtp://" + drop.host() +
                           " --mail-from studio@test --mail-rcpt drop@test -H 'Subject: "
                           "MovilettaStudio' -F '=body;type=text/plain' -F '=@" +
                           attachment + ";encoder=base64'";
  std::vector<double> a, b;
  for (int round = 0; round < 5; ++round) {
    a.push_back(bench::Seconds(ours));
    b.push_back(bench::Seconds([&] {
      if (std::system(curl.c_str()) != 0) std::fprintf(stderr, "curl failed\n");
    }));
  }
  const double mib = bytes.size() / 1048576.0;
  std::printf("mail with a %.0f MiB attachment, 5 rounds\n", mib);
  std::printf("  control: %.3f s (%.1f MiB/s)\n", bench::Median(a), mib / bench::Median(a));
  std::printf("  curl:    %.3f s (%.1f MiB/s)\n", bench::Median(b), mib / bench::Median(b));
  std::printf("  ratio control/curl: %.2f (goal <= 1.10)\n", bench::Median(a) / bench::Median(b));
  fs::remove_all(folder);
}
