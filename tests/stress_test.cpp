// SPDX-License-Identifier: GPL-3.0-or-later
// The page doing several things at once, as people do: seeded random interleavings of page calls
// against the studio program, the greeting server and the mail drop. Every send the control
// accepted must end in exactly one mail with its own files, or one message box.
#include <httplib.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 50;
constexpr int kCallsPerRound = 5;
constexpr auto kLongestCall = std::chrono::seconds(20);

// The page's event stream, read on a thread of its own: counts accepted sends, collects message
// boxes and acknowledges each one as a person clicking OK would.
class PageEvents {
 public:
  explicit PageEvents(const StudioProcess& studio)
      : studio_(studio), client_("127.0.0.1", studio.port), thread_([this] { Read(); }) {}
  ~PageEvents() {
    stop_ = true;
    client_.stop();
    thread_.join();
  }

  int sends_started() const { return sends_started_; }
  std::vector<std::string> boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  // One stream as long as it lasts; should it end, the next one goes on after the last event
  // seen, so that nothing is missed or counted twice.
  void Read() {
    client_.set_read_timeout(20, 0);  // the stream says it is still there every half second
    while (!stop_) {
      std::string buffer;
      httplib::Headers headers;
      if (last_id_ > 0) headers.emplace("Last-Event-ID", std::to_string(last_id_));
      client_.Get("/events?token=" + studio_.token, headers,
                  [&](const char* data, std::size_t size) {
                    buffer.append(data, size);
                    for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
                      Take(buffer.substr(0, end));
                      buffer.erase(0, end + 2);
                    }
                    return !stop_;
                  });
    }
  }
  void Take(const std::string& block) {
    const auto id = block.find("id: "), name = block.find("event: "), data = block.find("data: ");
    if (id == std::string::npos || name == std::string::npos || data == std::string::npos) return;
    const bool current_state = last_id_ == 0;
    last_id_ = std::max<uint64_t>(last_id_, std::stoull(block.substr(id + 4)));
    const std::string event = block.substr(name + 7, block.find('\n', name) - name - 7);
    const json value = json::parse(block.substr(data + 6));
    if (event == "messagebox") {
      {
        std::lock_guard lock(mutex_);
        if (!seen_boxes_.insert(value["id"].get<uint64_t>()).second) return;
        boxes_.push_back(value["text"]);
      }
      httplib::Client ack("127.0.0.1", studio_.port);
      ack.Post("/ack/" + std::to_string(value["id"].get<uint64_t>()),
               {{"Origin", studio_.self()}, {"X-Moviletta-Token", studio_.token}}, "",
               "text/plain");
    } else if (event == "StatusChanged" && value["ClientStatus"] == 5 && !current_state) {
      ++sends_started_;
    }
  }

  const StudioProcess& studio_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sends_started_{0};
  httplib::Client client_;
  uint64_t last_id_ = 0;
  mutable std::mutex mutex_;
  std::set<uint64_t> seen_boxes_;
  std::vector<std::string> boxes_;
  std::thread thread_;
};

class StressTest : public ::testing::Test {
 protected:
  StressTest() {
    server_.SetSettings(SettingsDocument(server_.address(), {{"SECLIMIT", "1"},
                                                             {"FPS", "10"},
                                                             {"OUTPUT", "mpg"},
                                                             {"ANIMPREVIEW", "1"},
                                                             {"SMTPHOST", drop_.host()}}));
    PrepareAppFolder(app_dir_);
  }
  ~StressTest() override { fs::remove_all(app_dir_); }

  GreetingServerFixture server_;
  MailDrop drop_{{"--password", "secret"}};
  std::string app_dir_ =
      (fs::temp_directory_path() / ("moviletta-stress-" + std::to_string(getpid()))).string();
};

struct PageCall {
  const char* member;
  const char* args;
};
const PageCall kCalls[] = {
    {"RecordVideo", "[]"},
    {"StopVideo", "[]"},
    {"PlayVideo", "[]"},
    {"LoadSkin", "[42]"},
    {"LoadClientSettings", "[]"},
    {"SendGreeting", R"([7, "Ann", "ann@example.com", "Bob,555,bob@example.com", "Hi", "1", 3])"},
    {"SendByEmail", R"(["Ann", "ann@example.com", "Bob", "+41 79", "bob@example.com", "Hi"])"},
    {"events", ""},  // the page reloads: a new event stream
};

TEST_F(StressTest, EveryAcceptedSendEndsInOneMailOrOneBoxWhateverThePageDoesAtOnce) {
  // MOVILETTA_STRESS_SEED repeats a run.
  const char* given = std::getenv("MOVILETTA_STRESS_SEED");
  const auto seed = given ? static_cast<uint32_t>(std::stoul(given))
                          : static_cast<uint32_t>(std::random_device{}());
  std::cout << "stress seed " << seed << std::endl;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);

  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  PageEvents events(studio);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the page is listening

  Clock::duration longest{};
  std::string longest_call;
  // Comes to rest as a person would: Stop, and no skin, which ends skin previews (a preview runs
  // until another skin replaces it), until every call has its answer and every send its outcome.
  const auto settle = [&](const std::vector<std::future<void>>& calls) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      const bool answered = std::all_of(calls.begin(), calls.end(), [](const auto& call) {
        return call.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
      });
      const int outcomes = drop_.Count() + static_cast<int>(events.boxes().size());
      const auto status = studio.Call("ClientStatus?kind=get");
      if (answered && status.body == R"({"value":1})" && outcomes >= events.sends_started())
        return true;
      if (status.body != R"({"value":5})") {
        studio.Call("StopVideo");
        studio.Call("LoadSkin", "[-1]");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };

  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::future<void>> calls;
    std::mutex timing;
    std::string plan = "round " + std::to_string(round) + ":";
    for (int i = 0; i < kCallsPerRound; ++i) {
      const PageCall call = kCalls[random() % std::size(kCalls)];
      const auto pause = std::chrono::milliseconds(random() % 400);
      plan += " " + std::to_string(pause.count()) + " ms " + call.member;
      calls.push_back(std::async(std::launch::async, [&, call, pause] {
        std::this_thread::sleep_for(pause);
        const auto start = Clock::now();
        if (std::string(call.member) == "events") {
          httplib::Client client("127.0.0.1", studio.port);
          client.Get("/events?token=" + studio.token, [](const char* data, std::size_t size) {
            return std::string(data, size).find("\n\n") == std::string::npos;
          });
        } else {
          EXPECT_EQ(studio.Call(call.member, call.args).status, 200) << call.member;
        }
        std::lock_guard lock(timing);
        if (Clock::now() - start > longest)
          longest = Clock::now() - start, longest_call = call.member;
      }));
    }
    std::cout << plan << std::endl;
    ASSERT_TRUE(settle(calls)) << "round " << round << ": the control did not come to rest";
  }

  EXPECT_TRUE(studio.Alive());
  EXPECT_LT(longest, kLongestCall) << longest_call;
  const int mails = drop_.Count();
  const std::vector<std::string> boxes = events.boxes();
  EXPECT_GT(events.sends_started(), 0);
  EXPECT_EQ(mails + static_cast<int>(boxes.size()), events.sends_started())
      << mails << " mails, " << boxes.size() << " boxes: " << ::testing::PrintToString(boxes);
  for (int n = 1; n <= mails; ++n) {
    const std::string mail = *drop_.WaitForMail(n, std::chrono::seconds(1));
    SCOPED_TRACE(mail);
    const std::string subject = ReadFile(mail + ".subject"), body = ReadFile(mail + ".body");
    if (subject == "MovilettaStudio") {
      EXPECT_EQ(body.rfind("<?xml", 0), 0u) << "a greeting carries its message document";
    } else {
      EXPECT_EQ(subject.rfind("Voxa-Mobile ", 0), 0u) << subject;
      EXPECT_EQ(body.find("<?xml"), std::string::npos) << "a mobile e-mail has a flat body";
    }
    const MediaInfo video = Probe(mail + ".parts/Moviletta.mpg");
    EXPECT_GT(video.video_frames, 0);
    EXPECT_LE(video.video_frames, 11) << "one recording of at most a second, not torn or mixed";
    EXPECT_EQ(Probe(mail + ".parts/Moviletta.jpg").video_codec, "mjpeg");
  }
  for (const std::string& box : boxes)
    EXPECT_EQ(box.rfind("The greeting was not sent", 0), 0u) << "a send's own explanation: " << box;
}

}  // namespace
}  // namespace moviletta::testing
