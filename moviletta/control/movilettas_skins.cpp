// SPDX-License-Identifier: GPL-3.0-or-later
// Skin selection, the skin-path assignment with its preview, and the skin kind.
#include "moviletta/common/constants.h"
#include "moviletta/control/frame_period.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/reporting/trap.h"
#include "moviletta/skins/gif_picture.h"

namespace moviletta {

void MovilettasImpl::LoadSkin(int32_t lSkinID) {
  host_thread_.Check(__func__);
  if (!AcceptInStoppedStatus(kRefuseLoadSkin)) return;
  Trap(reporter_, "LoadSkin").Run([&]() REQUIRES(host_thread_) {
    SetStatus(STATUS_LOADING_SKIN);
    m_SkinID = lSkinID;
    const std::string kind = skins_.GetLocalSkinType(lSkinID);
    if (lSkinID == kNoSkin) {
      AssignSkinPath("");
    } else if (kind == kKindStatic) {
      AssignSkinPath(skins_.GenerateStaticPath(lSkinID));
    } else if (kind == kKindSkin) {
      AssignSkinPath(skins_.GenerateSkinPath(lSkinID));
    } else if (kind == kKindNone) {
      // The placeholder stands still while the requested skin downloads: its preview would
      // otherwise hold the load up for good.
      const std::string placeholder = skins_.GetLocalSkinType(kPlaceholderSkin);
      AssignSkinPath(placeholder == kKindStatic ? skins_.GenerateStaticPath(kPlaceholderSkin)
                     : placeholder == kKindSkin ? skins_.GenerateSkinPath(kPlaceholderSkin)
                                                : downloader_.DownloadSkin(kPlaceholderSkin),
                     /*animate=*/false);
      AssignSkinPath(downloader_.DownloadSkin(lSkinID));
    }
    SetStatus(STATUS_STOPPED);
  });
}

void MovilettasImpl::AssignSkinPath(const std::string& path, bool animate) {
  m_SkinPath = path;
  const ClientSettings& settings = module_.ClientSettings;
  const double period = FramePeriod(settings.FPS);
  CaptureDevice& capture = *components_.VideoCapX1;
  if (path.empty()) {
    m_StopPreview = true;
    capture.OverlayBitmap(nullptr, 0, 0, 0);
  } else if (path.find("STATICS") != std::string::npos) {
    m_StopPreview = true;
    img_.SetPicture(1, LoadGifPicture(path, img_.Room(1)));
    capture.OverlayBitmap(img_.Picture(1), 0, 0, module_.ClientSettings.TRANSCOLOR);
  } else if (path.find("SKINS") != std::string::npos) {
    const int16_t frames = FrameCount(skins_.NumberOfFiles(path));
    m_StopPreview = false;
    img_.SetPicture(1, LoadGifPicture(path + "1.gif", img_.Room(1)));
    capture.OverlayBitmap(img_.Picture(1), 0, 0, module_.ClientSettings.TRANSCOLOR);
    for (int16_t i = 2; i <= frames; ++i) {
      if (!IsImageLoaded(i)) img_.Create(i);
      img_.SetPicture(i, LoadGifPicture(path + std::to_string(i) + ".gif", img_.Room(i)));
      host_.ProcessPendingEvents();
    }
    if (settings.ANIMPREVIEW == 1 && animate) RunSkinPreview(frames, period);
  }
  host_.PropertyChanged(kPropSkinPath);
}

void MovilettasImpl::RunSkinPreview(int16_t frames, double period) {
  CaptureDevice& capture = *components_.VideoCapX1;
  const auto stopping = [this]() REQUIRES(host_thread_) {
    return m_StopPreview || host_.StopRequested();
  };
  while (!stopping()) {
    for (int16_t j = 1; j <= frames; ++j) {
      if (stopping()) return;
      capture.OverlayBitmap(img_.Picture(j), 0, 0, module_.ClientSettings.TRANSCOLOR);
      Wait(Variant(period));
      host_.ProcessPendingEvents();
    }
    if (stopping()) return;
    host_.ProcessPendingEvents();
  }
}

std::string MovilettasImpl::GetSkinType() {
  host_thread_.Check(__func__);
  std::string type;
  Trap(reporter_, "GetSkinType").Run([&]() REQUIRES(host_thread_) {
    if (m_SkinID == kNoSkin) {
      type = "NO_SKIN";
      return;
    }
    const std::string kind = skins_.GetLocalSkinType(m_SkinID);
    type = kind == kKindNone     ? "NO_SKIN"
           : kind == kKindSkin   ? "ANIMATION"
           : kind == kKindStatic ? "STATIC"
                                 : "";
  });
  return type;
}

bool MovilettasImpl::IsImageLoaded(int32_t index) {
  host_thread_.Check(__func__);
  bool loaded = false;
  Trap(reporter_, "IsImageLoaded").Run([&]() REQUIRES(host_thread_) {
    loaded = index < img_.Count();
  });
  return loaded;
}

}  // namespace moviletta
