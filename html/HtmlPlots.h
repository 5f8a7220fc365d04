#pragma once

#include <vector>

#include "html/HtmlRun.h"
#include "html/HtmlWriter.h"

namespace dsc {

// The page's pictures, inline SVG of a few kilobytes each whatever the run.

// Elapsed time of each command of a server (logarithmic, time-outs marked).
void ElapsedPlot(HtmlWriter& out, const HtmlRun::Server& s);
// The values a POLL command was delivered while it waited, over time.
void PollPlot(HtmlWriter& out, const HtmlRun::Server& s, const HtmlRun::Poll& poll);
// The servers of a sweep or configuration, slowest first; each bar links to
// section "s<k>" where k is the server's place in order, from 1.
void ServersByTime(HtmlWriter& out, const std::vector<const HtmlRun::Server*>& order);
// How many accesses took how long, across the whole run.
void AccessHistogram(HtmlWriter& out, const std::vector<const HtmlRun::Server*>& order);
// A bar of a total: width of 400 for all.
void TotalBar(HtmlWriter& out, int kind, int32_t count, int32_t all, const std::string& title);

}  // namespace dsc
