// Merging and compressing the recording, with progress on the surface.
#include "moviletta/common/constants.h"
#include "moviletta/common/number_text.h"
#include "moviletta/control/movilettas.h"
#include "moviletta/utils/trap.h"

namespace moviletta {

void Movilettas::CompressFile() {
  m_CompressionFailed = true;  // until MergeVideo has started the job
  Trap(reporter_, "CompressFile").Run([&] {
    components_.picGeneral->SetVisible(true);
    host_.BringToFront(SurfaceWindow::picGeneral);
    host_.ProcessPendingEvents();
    MergeVideo();
  });
}

void Movilettas::MergeVideo() {
  // Until the job has started, the compression counts as failed: the send paths must not wait
  // for a completion that cannot come.
  m_CompressionFailed = true;
  Trap trap(reporter_, "MergeVideo");
  trap.Run([&] {
    const ClientSettings& settings = module_.ClientSettings;
    VideoEditor& editor = *components_.VideoEdit1;
    const std::string output = skins_.GetOutputDirectory();
    trap.section = "set output settings";
    if (settings.OUTPUT == "mpg") {
      trap.section = "set MPG settings";
      editor.SetOutputFormat(kOutputFormatMpeg);
      editor.SetAudioSampleRate(settings.AUDIOSAMPLERATE);
      editor.SetAudioBitRate(settings.AUDIOBITRATE);
      editor.SetSampleSize(settings.SAMPLESIZE);
      editor.SetOutputHeight(settings.FILEHEIGHT);
      editor.SetOutputWidth(settings.FILEWIDTH);
    }
    if (settings.OUTPUT == "wmv") {
      trap.section = "set WMV settings";
      editor.SetOutputFormat(kOutputFormatWmv);
    }
    editor.SetOutputFrameRate(settings.FPS);

    trap.section = "init CideoEdit1";
    editor.InitEditor();

    trap.section = "ad video+audio";
    const std::string input = output + "Moviletta" + module_.CaptureExtension;
    const double duration = editor.GetClipDuration(input);
    editor.AddVideoClip(input, 0.0, duration, 0);
    editor.AddAudioClip(input, 0.0, duration);

    const std::string target = output + "Moviletta." + settings.OUTPUT;
    trap.section = "save file: " + target;
    editor.SaveOutputFile(target);
    m_CompressionFailed = false;
  });
}

void Movilettas::VideoEdit1_Processing(double done, double total) {
  Trap(reporter_, "VideoEdit1_Processing").Run([&] {
    if (total == 0) throw Error(err::kDivisionByZero);
    const int32_t percent = RoundToLong(done / total * 100);
    components_.vbalProgressBar1->SetProgressValue(percent);
    components_.vbalProgressBar1->SetProgressText("Proccesing...  " + std::to_string(percent) +
                                                  "%");
  });
}

void Movilettas::VideoEdit1_Complete() {
  Trap(reporter_, "VideoEdit1_Complete").Run([&] {
    m_CompressionDone = true;
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
  });
}

void Movilettas::VideoEdit1_Failed(const Error& failure) {
  m_CompressionFailed = true;
  Trap(reporter_, "VideoEdit1_Failed").Run([&] { throw failure; });
}

}  // namespace moviletta
