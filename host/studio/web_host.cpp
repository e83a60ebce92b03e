// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/web_host.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <regex>

#include "host/studio/json_variant.h"
#include "moviletta/common/file_write.h"

namespace moviletta::web {
namespace {

using nlohmann::json;

const char* WindowName(SurfaceWindow window) {
  switch (window) {
    case SurfaceWindow::VideoCapX1:
      return "capture";
    case SurfaceWindow::VideoCapX2:
      return "player";
    case SurfaceWindow::picGeneral:
      return "panel";
  }
  return "";
}

// The id of the skin at `path` (".../ml_skin_<id>/" or ".../ml_static_<id>.gif"), or nothing.
std::optional<int32_t> SkinIdOf(const std::string& path) {
  static const std::regex kSkinPath(R"(ml_(?:skin|static)_(-?\d+)(?:/|\.gif)$)");
  std::smatch found;
  int32_t id = 0;
  if (!std::regex_search(path, found, kSkinPath) ||
      std::from_chars(&*found[1].first, &*found[1].first + found[1].length(), id).ec != std::errc())
    return std::nullopt;
  return id;
}

}  // namespace

WebHost::WebHost(EventStream& stream, std::string bag_file, const ModuleState& module)
    : stream_(stream), module_(module), bag_file_(std::move(bag_file)), queue_([](const Error& e) {
        std::cerr << "studio: a notification failed: " << e.description() << "\n";
      }) {
  UseBag(bag_file_);
}

void WebHost::UseBag(std::string bag_file) {
  bag_file_ = std::move(bag_file);
  bag_.clear();
  if (bag_file_.empty()) return;
  std::ifstream in(bag_file_);
  if (!in) return;
  const json stored = json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!stored.is_object()) return;
  for (const auto& [name, value] : stored.items()) bag_[name] = FromJsonValue(value);
}

void WebHost::ProcessPendingEvents(std::chrono::milliseconds max_wait) {
  queue_.RunPending(max_wait);
}

Variant WebHost::ReadProperty(std::string_view name, const Variant& default_value) {
  const auto found = bag_.find(name);
  return found == bag_.end() ? default_value : found->second;
}

void WebHost::WriteProperty(std::string_view name, const Variant& value, const Variant&) {
  bag_.insert_or_assign(std::string(name), value);
  if (name == "SkinPath") {
    const std::string path = value.ToText();
    const std::optional<int32_t> id = SkinIdOf(path);
    stream_.Publish("skin", {{"on", !path.empty()}, {"id", id ? json(*id) : json()}});
  }
  Save();
}

void WebHost::Save() const {
  if (bag_file_.empty()) return;
  json stored = json::object();
  for (const auto& [name, value] : bag_) stored[name] = ToJsonValue(value);
  WriteFileWhole(bag_file_, stored.dump(2, ' ', false, json::error_handler_t::replace),
                 "Moviletta.WebHost", /*sync_to_disk=*/false, /*owner_only=*/true);
}

void WebHost::PropertyChanged(std::string_view) {
  if (!save_ || std::exchange(save_pending_, true)) return;
  queue_.Post([this] {
    save_pending_ = false;
    save_();
  });
}

void WebHost::RaiseEvent(ControlEvent event, const EventSnapshot& now) {
  last_status_ = now.ClientStatus;
  const json state = {{"ClientStatus", now.ClientStatus},
                      {"ErrMsg", now.ErrMsg},
                      {"SecondsLimit", module_.ClientSettings.SECLIMIT},
                      {"VideoWidth", module_.VideoWidth},
                      {"VideoHeight", module_.VideoHeight},
                      {"SentSize", SentSize()},
                      {"KeyColour", module_.ClientSettings.TRANSCOLOR}};
  stream_.Publish(event == ControlEvent::StatusChanged ? "StatusChanged" : "ErrMsgChanged", state);
}

json WebHost::SentSize() const {
  const ClientSettings& settings = module_.ClientSettings;
  if (settings.OUTPUT != "mpg" || settings.FILEWIDTH <= 0 || settings.FILEHEIGHT <= 0)
    return nullptr;
  return {settings.FILEWIDTH, settings.FILEHEIGHT};
}

void WebHost::BringToFront(SurfaceWindow window) {
  stream_.Publish("front", {{"window", WindowName(window)}});
}

void WebHost::MessageBox(std::string_view text) {
  const uint64_t id = next_box_++;
  {
    MutexLock lock(boxes_mutex_);
    open_boxes_[id] = false;
  }
  stream_.OpenBox(id, text);
  const auto acknowledged = [&] {
    MutexLock lock(boxes_mutex_);
    return open_boxes_[id];
  };
  const auto deadline = Now() + message_box_timeout;
  while (!acknowledged() && Now() < deadline && !stream_.closed() && !StopRequested())
    ProcessPendingEvents(std::chrono::milliseconds(50));
  {
    MutexLock lock(boxes_mutex_);
    open_boxes_.erase(id);
  }
  stream_.CloseBox(id);
}

void WebHost::RequestStop() {
  stop_requested_ = true;
  queue_.Wake();
}

void WebHost::SetUnwinding(bool on) {
  if (unwinding_.exchange(on) != on && on) queue_.Wake();
}

bool WebHost::Acknowledge(uint64_t id) {
  MutexLock lock(boxes_mutex_);
  const auto box = open_boxes_.find(id);
  if (box == open_boxes_.end()) return false;
  box->second = true;
  return true;
}

std::chrono::steady_clock::time_point WebHost::Now() const {
  return std::chrono::steady_clock::now();
}

}  // namespace moviletta::web
