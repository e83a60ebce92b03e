// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/devices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "moviletta/capture/fake_device_lister.h"

namespace moviletta::web {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Source = CaptureOptions::Source;

const CameraInfo kBuiltIn{
    "/dev/video0", "Integrated Camera", {{1920, 1080}, {1280, 720}, {640, 480}}};
const CameraInfo kUsb{"/dev/video2", "USB Camera", {{800, 600}, {640, 480}, {320, 240}}};
const MicrophoneInfo kHeadset{"plughw:CARD=Headset,DEV=0", "USB Headset, USB Audio"};

class DevicesTest : public ::testing::Test {
 protected:
  DevicesTest() { fs::create_directories(folder_); }
  ~DevicesTest() override { fs::remove_all(folder_); }

  // The next "devices" event within `timeout`, if one comes.
  std::optional<json> NextDevicesEvent(uint64_t& after, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
      for (const EventStream::Event& event : stream_.Next(after, std::chrono::milliseconds(50)))
        if (event.name == "devices") return json::parse(event.json);
    return std::nullopt;
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-devices-" + std::to_string(getpid()));
  std::string file_ = (folder_ / "devices.json").string();
  FakeDeviceLister lister_{{{kBuiltIn, kUsb}, {kHeadset}}};
  EventStream stream_;
  CaptureOptions studio_;  // the studio's own setting: automatic, /dev/video0, ALSA's default
};

// The visitor's choice is what the camera reads, at the size chosen, and is there the next time;
// unplugged, the chosen camera gives way to the studio's own (at its largest size up to 1280 x
// 720) and comes back when plugged in again; the pages hear of each change within 2 s.
TEST_F(DevicesTest, TheChoiceHoldsAcrossRestartsAndUnplugging) {
  {
    Devices devices(lister_, file_, stream_);
    const json described = devices.Describe();
    EXPECT_EQ(described["cameras"][1]["name"], "USB Camera");
    EXPECT_EQ(described["cameras"][1]["sizes"][0], json({800, 600}));
    EXPECT_EQ(described["microphones"][0]["description"], "USB Headset, USB Audio");
    devices.Choose(
        {{"camera", "/dev/video2"}, {"size", {640, 480}}, {"microphone", kHeadset.device}});
  }
  struct stat kept {};
  ASSERT_EQ(::stat(file_.c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0777, 0600u);

  Devices devices(lister_, file_, stream_, std::chrono::milliseconds(100));
  CaptureOptions options = devices.Apply(studio_);
  EXPECT_EQ(options.source, Source::kCamera);
  EXPECT_EQ(options.camera.name, "/dev/video2");
  EXPECT_EQ(options.camera.title, "USB Camera");
  EXPECT_EQ(options.camera.options["video_size"], "640x480");
  EXPECT_EQ(std::pair(options.record_width, options.record_height), std::pair(640, 480));
  EXPECT_EQ(options.microphone.name, kHeadset.device);
  EXPECT_EQ(options.microphone.title, kHeadset.description);

  uint64_t after = 0;
  stream_.Current(after);
  const uint64_t before = devices.generation();
  lister_.Set({{kBuiltIn}, {}});
  const std::optional<json> told = NextDevicesEvent(after, std::chrono::seconds(2));
  ASSERT_TRUE(told) << "no event within 2 s of the camera going";
  EXPECT_EQ((*told)["cameras"].size(), 1u);
  EXPECT_EQ((*told)["camera"], "/dev/video2") << "the choice stays for the camera's return";
  EXPECT_EQ((*told)["picture"], json({{"camera", {1280, 720}}, {"recorded", {960, 720}}}))
      << "the page says what part of a wide camera's picture the greeting keeps";
  EXPECT_GT(devices.generation(), before);
  options = devices.Apply(studio_);
  EXPECT_EQ(options.camera.name, "/dev/video0");
  EXPECT_EQ(std::pair(options.record_width, options.record_height), std::pair(1280, 720));
  EXPECT_EQ(options.microphone.name, "default");

  lister_.Set({{kBuiltIn, kUsb}, {kHeadset}});
  ASSERT_TRUE(NextDevicesEvent(after, std::chrono::seconds(2)));
  EXPECT_EQ(devices.Apply(studio_).camera.name, "/dev/video2");
}

// A choice of what is not there is refused whole: the former choice stays, in memory and on disk.
TEST_F(DevicesTest, AChoiceOfWhatIsNotThereIsRefusedAndChangesNothing) {
  Devices devices(lister_, file_, stream_);
  devices.Choose({{"camera", "/dev/video0"}});
  const json before = devices.Describe();
  for (const json& choice :
       {json{{"camera", "/dev/video9"}}, json{{"camera", "/dev/video2"}, {"size", {1920, 1080}}},
        json{{"camera", "/dev/video0"}, {"microphone", "hw:CARD=Gone"}}, json{{"size", {640, 480}}},
        json{{"camera", Devices::kTestPicture}},  // offered only where no camera is
        json{{"camera", 7}}, json("/dev/video0")}) {
    try {
      devices.Choose(choice);
      ADD_FAILURE() << "accepted " << choice;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument) << choice;
    }
  }
  EXPECT_EQ(devices.Describe(), before);
  EXPECT_EQ(Devices(lister_, file_, stream_).Describe()["camera"], "/dev/video0");
}

// Without a camera the test picture is offered, records at the size chosen for it, and with the
// microphone chosen.
TEST_F(DevicesTest, TheTestPictureStandsInWhereNoCameraIs) {
  lister_.Set({{}, {}});
  Devices devices(lister_, file_, stream_);
  EXPECT_EQ(devices.Describe()["cameras"][0]["name"], "Test picture");
  EXPECT_EQ(devices.Apply(studio_).record_width, 0) << "the control's size";
  EXPECT_EQ(devices.Describe()["picture"], json());
  devices.Choose({{"camera", Devices::kTestPicture}, {"size", {1280, 720}}});
  const CaptureOptions options = devices.Apply(studio_);
  EXPECT_EQ(options.source, Source::kSynthetic) << "its tone with it";
  EXPECT_EQ(std::pair(options.record_width, options.record_height), std::pair(1280, 720));

  lister_.Set({{}, {kHeadset}});
  Devices with_microphone(lister_, file_, stream_);
  with_microphone.Choose({{"camera", Devices::kTestPicture}, {"microphone", kHeadset.device}});
  EXPECT_EQ(with_microphone.Apply(studio_).source, Source::kTestPicture) << "the headset's sound";
}

}  // namespace
}  // namespace moviletta::web
