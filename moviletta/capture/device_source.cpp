#include "moviletta/capture/device_source.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <algorithm>
#include <cstring>

#include "moviletta/capture/ffmpeg_handles.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.DeviceSource";
constexpr std::size_t kMaxBufferedSamples = 5 * 48000;

}  // namespace

struct DeviceSource::Input {
  ffmpeg::InputContext format;
  ffmpeg::CodecContext decoder;
  int stream = -1;
};

namespace {

int Interrupted(void* stop) {
  return static_cast<std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

std::unique_ptr<DeviceSource::Input> OpenInput(const char* driver, const std::string& device,
                                               AVDictionary* options, std::atomic<bool>& stop) {
  static std::once_flag registered;
  std::call_once(registered, [] { avdevice_register_all(); });
  ffmpeg::QuietLogs();
  auto input = std::make_unique<DeviceSource::Input>();
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) throw Error(err::kOutOfMemory);
  raw->interrupt_callback = {Interrupted, &stop};
  const int opened =
      avformat_open_input(&raw, device.c_str(), av_find_input_format(driver), &options);
  av_dict_free(&options);
  if (opened < 0)
    throw Error(err::kComponentFailed,
                std::string(driver) + " device " + device +
                    " cannot be opened: " + ffmpeg::ErrorText(opened),
                kSource, opened > -4096 ? AVUNERROR(opened) : 0);
  input->format.reset(raw);
  ffmpeg::Check(avformat_find_stream_info(raw, nullptr), "cannot read " + device, kSource);
  const AVMediaType type =
      std::string(driver) == "video4linux2" ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
  input->stream = ffmpeg::Check(av_find_best_stream(raw, type, -1, -1, nullptr, 0),
                                "no stream in " + device, kSource);
  input->decoder = ffmpeg::OpenDecoder(raw->streams[input->stream], device, kSource);
  return input;
}

// Reads packets of `input` until `stop`, handing every decoded frame to `take`.
template <class Take>
void ReadFrames(DeviceSource::Input& input, std::atomic<bool>& stop, Take&& take) {
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  ffmpeg::Frame frame = ffmpeg::NewFrame();
  while (!stop && av_read_frame(input.format.get(), packet.get()) >= 0) {
    if (packet->stream_index == input.stream &&
        avcodec_send_packet(input.decoder.get(), packet.get()) >= 0)
      while (avcodec_receive_frame(input.decoder.get(), frame.get()) >= 0) take(*frame);
    av_packet_unref(packet.get());
  }
}

}  // namespace

DeviceSource::DeviceSource(const std::string& camera, const std::string& microphone,
                           int sample_rate) {
  camera_ = OpenInput("video4linux2", camera, nullptr, stop_);
  try {
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", sample_rate, 0);
    av_dict_set_int(&options, "channels", 1, 0);
    microphone_ = OpenInput("alsa", microphone, options, stop_);
  } catch (const Error&) {
    microphone_.reset();  // no microphone: the recording keeps a silent sound track
  }
  camera_thread_ = std::thread([this, camera] { Read(camera, [this] { ReadCamera(); }); });
  if (microphone_)
    microphone_thread_ =
        std::thread([this, microphone] { Read(microphone, [this] { ReadMicrophone(); }); });
}

DeviceSource::~DeviceSource() {
  stop_ = true;
  if (camera_thread_.joinable()) camera_thread_.join();
  if (microphone_thread_.joinable()) microphone_thread_.join();
}

template <class Body>
void DeviceSource::Read(const std::string& device, Body&& body) {
  std::optional<Error> failure;
  try {
    body();
    if (!stop_) failure = Error(err::kComponentFailed, device + " stopped delivering", kSource);
  } catch (...) {
    failure = Error::FromCurrent();
  }
  if (!failure) return;
  std::lock_guard lock(mutex_);
  if (!failure_) failure_ = std::move(failure);
}

std::optional<Error> DeviceSource::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void DeviceSource::ReadCamera() {
  ffmpeg::ScaleContext to_rgba;
  std::vector<uint8_t> rgba;
  ReadFrames(*camera_, stop_, [&](const AVFrame& frame) {
    const int width = wanted_width_, height = wanted_height_;
    if (width <= 0 || height <= 0) return;
    to_rgba.reset(sws_getCachedContext(to_rgba.release(), frame.width, frame.height,
                                       static_cast<AVPixelFormat>(frame.format), width, height,
                                       AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!to_rgba) return;
    rgba.resize(static_cast<std::size_t>(width) * height * 4);
    uint8_t* rows = rgba.data();
    const int stride = width * 4;
    sws_scale(to_rgba.get(), frame.data, frame.linesize, 0, frame.height, &rows, &stride);
    std::lock_guard lock(mutex_);
    latest_.swap(rgba);
    latest_width_ = width, latest_height_ = height;
  });
}

void DeviceSource::ReadMicrophone() {
  ReadFrames(*microphone_, stop_, [&](const AVFrame& frame) {
    if (frame.format != AV_SAMPLE_FMT_S16) return;
    const auto* samples = reinterpret_cast<const int16_t*>(frame.data[0]);
    std::lock_guard lock(mutex_);
    sound_.insert(sound_.end(), samples, samples + frame.nb_samples);
    while (sound_.size() > kMaxBufferedSamples) sound_.pop_front();
  });
}

void DeviceSource::Video(int64_t, int width, int height, uint8_t* rgba) {
  wanted_width_ = width, wanted_height_ = height;
  std::lock_guard lock(mutex_);
  if (latest_width_ == width && latest_height_ == height)
    std::copy(latest_.begin(), latest_.end(), rgba);
  else
    std::fill_n(rgba, static_cast<std::size_t>(width) * height * 4, uint8_t{0});
}

void DeviceSource::Audio(int16_t* samples, int count) {
  std::lock_guard lock(mutex_);
  const int available = static_cast<int>(std::min<std::size_t>(sound_.size(), count));
  std::copy_n(sound_.begin(), available, samples);
  sound_.erase(sound_.begin(), sound_.begin() + available);
  std::fill(samples + available, samples + count, int16_t{0});
}

}  // namespace moviletta
