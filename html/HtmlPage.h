#pragma once

#include "engine/Outcome.h"
#include "html/HtmlRun.h"
#include "html/HtmlWriter.h"

namespace dsc {

// The whole page of a run: head, the run and its totals, the plots across
// servers, the filter, a section per server (failures first) with its plots
// and a row per command.
void WritePage(HtmlWriter& out, const HtmlRun& run, const CheckTotals& totals);

}  // namespace dsc
