// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/device_source.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "moviletta/common/proportion.h"
#include "moviletta/common/start_thread.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.DeviceSource";
constexpr auto kPoll = std::chrono::milliseconds(5);  // between reads of a device with nothing new

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

std::unique_ptr<DeviceSource::Input> OpenInput(const DeviceInput& device, AVMediaType type,
                                               std::atomic<bool>& stop) {
  static std::once_flag registered;
  std::call_once(registered, [] { avdevice_register_all(); });
  ffmpeg::QuietLogs();
  const AVInputFormat* format = av_find_input_format(device.format.c_str());
  if (!format) throw Error(err::kComponentFailed, "no input format " + device.format, kSource);
  AVDictionary* options = nullptr;
  for (const auto& [name, value] : device.options)
    av_dict_set(&options, name.c_str(), value.c_str(), 0);
  auto input = std::make_unique<DeviceSource::Input>();
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) {
    av_dict_free(&options);
    throw Error(err::kOutOfMemory);
  }
  raw->interrupt_callback = {Interrupted, &stop};
  raw->flags |= AVFMT_FLAG_NONBLOCK;  // a device with nothing to give must not hold its reader
  const int opened = avformat_open_input(&raw, device.name.c_str(), format, &options);
  av_dict_free(&options);
  if (opened == AVERROR(EBUSY))
    throw Error(err::kComponentFailed,
                std::string(type == AVMEDIA_TYPE_VIDEO ? "The camera " : "The microphone ") +
                    device.Title() + " is in use by another program.",
                kSource, EBUSY);
  if (opened < 0)
    throw Error(err::kComponentFailed,
                device.format + " device " + device.name +
                    " cannot be opened: " + ffmpeg::ErrorText(opened),
                kSource, opened > -4096 ? AVUNERROR(opened) : 0);
  input->format.reset(raw);
  ffmpeg::Check(avformat_find_stream_info(raw, nullptr), "cannot read " + device.name, kSource);
  input->stream = ffmpeg::Check(av_find_best_stream(raw, type, -1, -1, nullptr, 0),
                                "no stream in " + device.name, kSource);
  input->decoder = ffmpeg::OpenDecoder(raw->streams[input->stream], device.name, kSource);
  return input;
}

// Reads packets of `input` until `stop`, handing every decoded frame to `take`. Returns the read
// failure that ended it, or 0 when stopped.
template <class Take>
int ReadFrames(DeviceSource::Input& input, std::atomic<bool>& stop, Take&& take) {
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  ffmpeg::Frame frame = ffmpeg::NewFrame();
  while (!stop) {
    const int read = av_read_frame(input.format.get(), packet.get());
    if (read == AVERROR(EAGAIN)) {
      std::this_thread::sleep_for(kPoll);
      continue;
    }
    if (read < 0) return stop ? 0 : read;
    if (packet->stream_index == input.stream &&
        avcodec_send_packet(input.decoder.get(), packet.get()) >= 0)
      while (avcodec_receive_frame(input.decoder.get(), frame.get()) >= 0) take(*frame);
    av_packet_unref(packet.get());
  }
  return 0;
}

// A converter from `frame`'s sound to mono 16-bit samples at `rate`.
ffmpeg::SwrContext NewConverter(const AVFrame& frame, int rate) {
  AVChannelLayout in{};
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&in, frame.ch_layout.nb_channels);
  else
    ffmpeg::Check(av_channel_layout_copy(&in, &frame.ch_layout), "sound layout", kSource);
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* raw = nullptr;
  const int made =
      swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, rate, &in,
                          static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in);
  ffmpeg::SwrContext converter(raw);
  ffmpeg::Check(made, "cannot convert the microphone's sound", kSource);
  ffmpeg::Check(swr_init(raw), "cannot convert the microphone's sound", kSource);
  return converter;
}

// The middle of `frame` with the proportions of `width` x `height`, as a reference in `cropped`
// (no pixels are copied); `frame` itself when it has them already or cannot be cut.
const AVFrame& CroppedTo(const AVFrame& frame, int width, int height, ffmpeg::Frame& cropped) {
  const PictureCrop crop = CentredCrop(frame.width, frame.height, width, height);
  if (crop.width == frame.width && crop.height == frame.height) return frame;
  av_frame_unref(cropped.get());
  if (av_frame_ref(cropped.get(), &frame) < 0) return frame;
  cropped->crop_left = static_cast<std::size_t>(crop.x);
  cropped->crop_top = static_cast<std::size_t>(crop.y);
  cropped->crop_right = static_cast<std::size_t>(frame.width - crop.x - crop.width);
  cropped->crop_bottom = static_cast<std::size_t>(frame.height - crop.y - crop.height);
  if (av_frame_apply_cropping(cropped.get(), AV_FRAME_CROP_UNALIGNED) < 0) return frame;
  return *cropped;
}

}  // namespace

DeviceSource::DeviceSource(const DeviceInput& camera, const DeviceInput& microphone,
                           int sample_rate)
    : sample_rate_(sample_rate) {
  if (!camera.name.empty()) camera_ = OpenInput(camera, AVMEDIA_TYPE_VIDEO, stop_);
  try {
    microphone_ = OpenInput(microphone, AVMEDIA_TYPE_AUDIO, stop_);
  } catch (const Error&) {
    microphone_.reset();  // no microphone: the recording keeps a silent sound track
  }
  const std::string camera_ended = "The camera " + camera.Title() +
                                   " stopped delivering pictures (it may have been unplugged): "
                                   "the recording ends here.";
  const std::string microphone_ended = "The microphone " + microphone.Title() +
                                       " stopped delivering sound (it may have been unplugged): "
                                       "the recording ends here.";
  if (camera_)
    camera_thread_ =
        StartThread([this, camera_ended] { Read(camera_ended, [this] { ReadCamera(); }); },
                    "the camera", kSource);
  try {
    if (microphone_)
      microphone_thread_ = StartThread(
          [this, microphone_ended] { Read(microphone_ended, [this] { ReadMicrophone(); }); },
          "the microphone", kSource);
  } catch (const Error&) {
    stop_ = true;
    if (camera_thread_.joinable()) camera_thread_.join();
    throw;
  }
}

DeviceSource::~DeviceSource() {
  stop_ = true;
  if (camera_thread_.joinable()) camera_thread_.join();
  if (microphone_thread_.joinable()) microphone_thread_.join();
}

template <class Body>
void DeviceSource::Read(const std::string& ended, Body&& body) {
  std::optional<Error> failure;
  try {
    body();
  } catch (const Error& e) {
    failure = Error(e.number(), ended, kSource, e.os_error());
  } catch (...) {
    failure = Error::FromCurrent();
  }
  if (!failure && !stop_) failure = Error(err::kComponentFailed, ended, kSource);
  if (!failure || stop_) return;
  MutexLock lock(mutex_);
  if (!failure_) failure_ = std::move(failure);
}

std::optional<Error> DeviceSource::Failure() const {
  MutexLock lock(mutex_);
  return failure_;
}

void DeviceSource::ReadCamera() {
  ffmpeg::ScaleContext to_rgba;
  ffmpeg::Frame cropped = ffmpeg::NewFrame();
  std::vector<uint8_t> rgba;
  const int ended = ReadFrames(*camera_, stop_, [&](const AVFrame& frame) {
    const int width = wanted_width_, height = wanted_height_;
    if (width <= 0 || height <= 0) return;
    const AVFrame& kept = CroppedTo(frame, width, height, cropped);
    to_rgba.reset(sws_getCachedContext(to_rgba.release(), kept.width, kept.height,
                                       static_cast<AVPixelFormat>(kept.format), width, height,
                                       AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!to_rgba) return;
    rgba.resize(static_cast<std::size_t>(width) * height * 4);
    uint8_t* rows = rgba.data();
    const int stride = width * 4;
    sws_scale(to_rgba.get(), kept.data, kept.linesize, 0, kept.height, &rows, &stride);
    MutexLock lock(mutex_);
    latest_.swap(rgba);
    latest_width_ = width, latest_height_ = height;
  });
  ffmpeg::Check(ended, "the camera stopped delivering", kSource);
}

void DeviceSource::ReadMicrophone() {
  ffmpeg::SwrContext converter;
  AVChannelLayout layout{};
  int format = -1, rate = 0;
  std::vector<int16_t> converted;
  const int ended = ReadFrames(*microphone_, stop_, [&](const AVFrame& frame) {
    if (!converter || frame.format != format || frame.sample_rate != rate ||
        av_channel_layout_compare(&frame.ch_layout, &layout) != 0) {
      converter = NewConverter(frame, sample_rate_);
      av_channel_layout_uninit(&layout);
      ffmpeg::Check(av_channel_layout_copy(&layout, &frame.ch_layout), "sound layout", kSource);
      format = frame.format, rate = frame.sample_rate;
    }
    converted.resize(
        static_cast<std::size_t>(swr_get_out_samples(converter.get(), frame.nb_samples)));
    uint8_t* out = reinterpret_cast<uint8_t*>(converted.data());
    const int count = ffmpeg::Check(
        swr_convert(converter.get(), &out, static_cast<int>(converted.size()),
                    const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples),
        "cannot convert the microphone's sound", kSource);
    const Clock::time_point now = Clock::now();
    const auto chunk = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(count) / sample_rate_));
    MutexLock lock(mutex_);
    sound_.insert(sound_.end(), converted.begin(), converted.begin() + count);
    newest_sound_ = now;
    longest_chunk_ = std::max(longest_chunk_, chunk);
  });
  av_channel_layout_uninit(&layout);
  ffmpeg::Check(ended, "the microphone stopped delivering", kSource);
}

void DeviceSource::Video(int64_t, int width, int height, uint8_t* rgba) {
  wanted_width_ = width, wanted_height_ = height;
  MutexLock lock(mutex_);
  if (latest_width_ == width && latest_height_ == height)
    std::copy(latest_.begin(), latest_.end(), rgba);
  else
    std::fill_n(rgba, static_cast<std::size_t>(width) * height * 4, uint8_t{0});
}

void DeviceSource::Audio(int16_t* samples, int count) {
  using Seconds = std::chrono::duration<double>;
  const Clock::time_point now = Clock::now();
  MutexLock lock(mutex_);
  if (!sound_.empty()) {
    // The slot's own sound was taken within its period; a device that delivers in longer runs
    // gets that much more room before its sound counts as late.
    const double period = static_cast<double>(count) / sample_rate_;
    const double kept = period + std::max(period / 2, Seconds(longest_chunk_).count());
    const double oldest =
        Seconds(now - newest_sound_).count() + static_cast<double>(sound_.size()) / sample_rate_;
    const auto late = static_cast<std::size_t>(std::max(0.0, (oldest - kept) * sample_rate_));
    sound_.erase(sound_.begin(), sound_.begin() + std::min(late, sound_.size()));
  }
  const int available = static_cast<int>(std::min<std::size_t>(sound_.size(), count));
  std::fill_n(samples, count - available, int16_t{0});
  std::copy_n(sound_.begin(), available, samples + (count - available));
  sound_.erase(sound_.begin(), sound_.begin() + available);
}

}  // namespace moviletta
