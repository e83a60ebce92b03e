// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/control/dispatch_table.h"
#include "moviletta/control/module_state.h"
#include "moviletta/control/movilettas.h"

namespace moviletta {

struct CallOutcome {
  Variant value;
  std::optional<Error> error;  // the script error, when the call failed
};

// Holds one control for a host: creates it and runs its start-up, calls its members by name,
// saves and destroys it. A failure that leaves the control comes back as a script error; none
// escapes. Host thread only; the host, queue and module must outlive the site.
class ControlSite {
 public:
  ControlSite(Host& host, EventQueue& queue, ModuleState& module)
      : host_(host), queue_(queue), module_(module) {}
  ~ControlSite() { Destroy(); }

  // Creates the control and runs its start-up, then gives it its properties: the defaults for a
  // new instance, else those of the host's bag. Returns the failure that left start-up, if any;
  // the control exists either way (in status 0 after a failed start-up), unless it could not be
  // made at all (a component missing), which is the failure returned.
  std::optional<Error> Create(Components components, ControlConfig config, bool new_instance);

  // The control, or null before Create and after Destroy.
  Movilettas* control() { return control_.get(); }
  // The values the site's controls share: settings, video size.
  const ModuleState& module() const { return module_; }

  CallOutcome Call(std::string_view member, MemberKind kind, std::vector<Variant> args = {});

  // Gives the control the properties of the host's bag, when the control declares itself safe
  // for initialisation from it; otherwise leaves it as it is. Returns the failure that left it.
  std::optional<Error> RestoreProperties();

  // Has the control write its properties into the host's bag. Returns the failure that left the
  // control, if any.
  std::optional<Error> SaveProperties();

  // Saves the properties, shuts the control down and destroys it. Returns the failure that left
  // the control, if any. Does nothing when there is no control.
  std::optional<Error> Destroy();

 private:
  Host& host_;
  EventQueue& queue_;
  ModuleState& module_;
  std::unique_ptr<Movilettas> control_;
};

}  // namespace moviletta
