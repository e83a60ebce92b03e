// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "service/store/greetings.h"
#include "service/store/store.h"
#include "service/web/site_settings.h"

namespace moviletta::service {

// What the admin page shows for one site.
struct AdminView {
  std::string admin;  // who is signed in
  std::string csrf;   // the session's token, in every form
  std::vector<std::string> sites;
  std::string site;  // the site shown
  SettingsValues settings;
  std::vector<Skin> skins;
  ReportFilter filter;
  std::vector<ErrorReport> reports;
  std::vector<std::pair<std::string, int64_t>> reports_per_day;
  int64_t refused = 0;  // reports and announcements over the limit
  std::vector<Registration> registrations;
  std::vector<Greeting> greetings;  // newest first
  std::vector<JobCount> jobs;
  std::vector<Node> nodes;
  std::vector<QuarantinedMail> quarantine;
  std::string refusal;  // why the last change was refused, or ""
};

// The page as HTML; every text from the store is escaped.
std::string AdminPage(const AdminView& view);
// The sign-in form, saying `said` (escaped) when not empty.
std::string SignInPage(const std::string& said);

}  // namespace moviletta::service
