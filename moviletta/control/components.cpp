// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/components.h"

#include "moviletta/control/memory_panel.h"
#include "moviletta/control/memory_progress_bar.h"
#include "moviletta/server/curl_http_client.h"

namespace moviletta {

Components WithStandardComponents(Components components, HttpOptions http_options) {
  if (!components.http) components.http = std::make_unique<CurlHttpClientFactory>(http_options);
  if (!components.xml) components.xml = std::make_unique<PugiXmlDocumentFactory>();
  if (!components.streams) components.streams = std::make_unique<FileByteStreamFactory>();
  if (!components.volume_serial) components.volume_serial = RootVolumeSerial;
  if (!components.vbalProgressBar1)
    components.vbalProgressBar1 = std::make_unique<MemoryProgressBar>();
  if (!components.picGeneral) components.picGeneral = std::make_unique<MemoryPanel>();
  return components;
}

}  // namespace moviletta
