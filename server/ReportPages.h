#pragma once

#include "ReportResult.h"
#include "Stores.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// Text made safe for HTML content and attribute values.
std::string htmlEscape(const std::string &text);

// The list fields of a report: machine, user, number of findings and of banned accounts.
Report summarizeReport(const nlohmann::json &report);

// Whether an Authorization header carries HTTP Basic credentials admin:`token`; compared in time
// that does not depend on where they differ.
bool adminCredentialsMatch(const std::string &authorization, const std::string &token);

// The admins' pages: plain server-rendered HTML with a small style sheet of our own, every text
// escaped, no scripts.
std::string reportListPage(const std::vector<Report> &reports, int limit);
// One report: its result and timeline (filtered as asked), its header, its events and the note.
std::string reportPage(const Report &report, const TimelineFilter &filter);
