#include "html/HtmlPlots.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace dsc {

namespace {

using Server = HtmlRun::Server;

// An inline SVG of the given size, left open; the page scales it down to
// the window.
void StartSvg(HtmlWriter& out, int w, int h, const std::string& title) {
  out.Start("svg")
      .Attr("xmlns", "http://www.w3.org/2000/svg")
      .Attr("width", int64_t{w})
      .Attr("height", int64_t{h})
      .Attr("viewBox", "0 0 " + std::to_string(w) + " " + std::to_string(h))
      .Attr("role", "img")
      .Element("title", title);
}

void SvgText(HtmlWriter& out, double x, double y, std::string_view text,
             const char* anchor = nullptr) {
  out.Start("text").AttrFixed("x", x, 1).AttrFixed("y", y, 1);
  if (anchor) out.Attr("text-anchor", anchor);
  out.Text(text).End();
}

void AppendNumber(std::string& d, double v) { AppendFixed(d, std::round(v * 10) / 10, 1); }

// "M x y" then more, for a path's data.
void MoveTo(std::string& d, char op, double x, double y) {
  d += op;
  AppendNumber(d, x);
  d += ' ';
  AppendNumber(d, y);
}

void SvgLine(HtmlWriter& out, double x1, double y1, double x2, double y2, const char* colour,
             const char* dashes = nullptr) {
  std::string d;
  MoveTo(d, 'M', x1, y1);
  MoveTo(d, 'L', x2, y2);
  out.Start("path").Attr("d", d).Attr("stroke", colour);
  if (dashes) out.Attr("stroke-dasharray", dashes);
  out.Void();
}

void Rect(HtmlWriter& out, double x, double y, double w, double h, const char* fill) {
  out.Start("rect")
      .AttrFixed("x", x, 1)
      .AttrFixed("y", y, 1)
      .AttrFixed("width", w, 1)
      .AttrFixed("height", h, 1)
      .Attr("fill", fill);
}

// Error and failure outrank a skip, which outranks a pass.
int Rank(int kind) { return kind == 0 ? 0 : kind == 3 ? 1 : kind; }

}  // namespace

const char* KindName(int k) { return k < 4 ? VerdictName(static_cast<Verdict>(k)) : "notprepared"; }

const char* KindColour(int k) {
  static const char* kColours[] = {"#2e7d32", "#c62828", "#ad1457", "#8d8d8d", "#6a1b9a"};
  return kColours[k];
}

void TotalBar(HtmlWriter& out, int kind, int32_t count, int32_t all, const std::string& title) {
  StartSvg(out, 400, 14, title);
  Rect(out, 0, 0, count ? std::max(1.0, 400.0 * count / all) : 0.0, 14, KindColour(kind));
  out.Void().End();
}

// Elapsed time of each command on a logarithmic scale (one slow access
// must not flatten the others), coloured by outcome, time-outs marked with a
// triangle. Over a thousand commands, a bar stands for the slowest of its
// neighbours, so the picture stays a few kilobytes whatever the run.
void ElapsedPlot(HtmlWriter& out, const Server& s) {
  const auto& rows = s.rows;
  if (rows.empty()) return;
  constexpr int kW = 960, kH = 130, kL = 52, kR = 10, kT = 12, kB = 20;
  constexpr int kPlotW = kW - kL - kR, kPlotH = kH - kT - kB;
  const size_t n = rows.size();
  const size_t per = (n + kPlotW - 1) / kPlotW;
  const size_t columns = (n + per - 1) / per;
  int64_t maxMs = 1;
  for (const auto& r : rows) maxMs = std::max(maxMs, r.ms);
  const double top = std::log10(1.0 + static_cast<double>(maxMs));
  const auto y = [&](int64_t ms) {
    return kT + kPlotH - kPlotH * std::log10(1.0 + static_cast<double>(ms)) / top;
  };
  out.Element("p", "Elapsed time of each command (logarithmic scale; triangles: time-outs)",
              "plot");
  StartSvg(out, kW, kH,
           "Elapsed time of each command of /" + s.context + "/" + s.server +
               " (logarithmic; triangles: time-outs)");
  // Grid lines at the powers of ten.
  for (int64_t tick = 1; tick <= maxMs; tick *= 10) {
    const double ty = y(tick);
    SvgLine(out, kL, ty, kW - kR, ty, "#e6e6e6");
    SvgText(out, kL - 4, ty + 4, SecondsText(tick), "end");
  }
  SvgLine(out, kL, kT + kPlotH, kW - kR, kT + kPlotH, "#999");
  SvgText(out, kL - 4, kT + kPlotH + 4, "0", "end");
  const double colW = static_cast<double>(kPlotW) / static_cast<double>(columns);
  std::string d[4], timeouts;
  for (size_t c = 0; c < columns; ++c) {
    int64_t ms = 0;
    int worst = 0;
    bool timedOut = false;
    for (size_t i = c * per; i < std::min(n, (c + 1) * per); ++i) {
      ms = std::max(ms, rows[i].ms);
      const int k = static_cast<int>(rows[i].kind);
      if (Rank(k) > Rank(worst)) worst = k;
      timedOut = timedOut || rows[i].timedOut;
    }
    const double x = kL + (static_cast<double>(c) + 0.5) * colW;
    const double y0 = kT + kPlotH;
    // A quick failure still stands out from the passes beside it.
    const double y1 = std::min(y(ms), y0 - (worst == 0 ? 1.5 : 8.0));
    MoveTo(d[worst], 'M', x, y0);
    d[worst] += 'V';
    AppendNumber(d[worst], y1);
    if (timedOut) {
      MoveTo(timeouts, 'M', x - 4, 2);
      timeouts += "h8l-4 7z";
    }
  }
  const double width = std::max(1.0, colW * 0.8);
  for (int k = 0; k < 4; ++k) {
    if (d[k].empty()) continue;
    out.Start("path", KindName(k))
        .Attr("d", d[k])
        .Attr("stroke", KindColour(k))
        .AttrFixed("stroke-width", width, 2)
        .Void();
  }
  if (!timeouts.empty())
    out.Start("path", "timeouts").Attr("d", timeouts).Attr("fill", "#b71c1c").Void();
  SvgText(out, kL, kH - 4, "command 1");
  SvgText(
      out, kW - kR, kH - 4,
      std::to_string(n) + (per > 1 ? " (a bar: the slowest of " + std::to_string(per) + ")" : ""),
      "end");
  out.End();
}

void PollPlot(HtmlWriter& out, const Server& s, const HtmlRun::Poll& poll) {
  const HtmlRun::Row& row = s.rows[static_cast<size_t>(poll.row)];
  const auto& ds = poll.deliveries;
  std::vector<const HtmlRun::Delivery*> numbers;
  for (const auto& d : ds)
    if (d.isNumber && std::isfinite(d.number)) numbers.push_back(&d);
  const std::string what = "#" + std::to_string(row.index + 1) + " " + row.description + " (" +
                           row.property + "): " + std::to_string(ds.size()) +
                           (ds.size() == 1 ? " delivery" : " deliveries");
  if (numbers.size() < 2) {
    std::string list = what + ":";
    for (size_t i = 0; i < ds.size() && i < 50; ++i)
      list += (i ? ", " : " ") + std::to_string(ds[i].atMs) + " ms " + ds[i].shown;
    if (ds.size() > 50) list += ", ...";
    out.Element("p", list, "note");
    return;
  }
  constexpr int kW = 960, kH = 110, kL = 70, kR = 10, kT = 10, kB = 20;
  constexpr int kPlotW = kW - kL - kR, kPlotH = kH - kT - kB;
  double lo = numbers[0]->number, hi = lo;
  int64_t tMax = 1;
  for (const auto* d : numbers) {
    lo = std::min(lo, d->number);
    hi = std::max(hi, d->number);
    tMax = std::max(tMax, d->atMs);
  }
  // The reference the poll waited for, where it is one number.
  double reference = 0;
  const std::string& want = row.expected;
  const bool hasReference =
      !want.empty() &&
      std::from_chars(want.data(), want.data() + want.size(), reference).ptr ==
          want.data() + want.size() &&
      std::isfinite(reference);
  if (hasReference) {
    lo = std::min(lo, reference);
    hi = std::max(hi, reference);
  }
  if (hi == lo) {
    hi += 0.5;
    lo -= 0.5;
  }
  out.Element("p", what + (hasReference ? ", waiting for " + want : ""), "plot");
  StartSvg(out, kW, kH, what);
  const auto x = [&](int64_t t) {
    return kL + kPlotW * static_cast<double>(t) / static_cast<double>(tMax);
  };
  const auto y = [&](double v) { return kT + kPlotH - kPlotH * (v - lo) / (hi - lo); };
  SvgLine(out, kL, kT + kPlotH, kW - kR, kT + kPlotH, "#999");
  SvgText(out, kL - 4, y(hi) + 4, Fixed(hi, 6), "end");
  SvgText(out, kL - 4, y(lo) + 4, Fixed(lo, 6), "end");
  SvgText(out, kL, kH - 4, "0 ms");
  SvgText(out, kW - kR, kH - 4, SecondsText(tMax) + " after the command started", "end");
  if (hasReference) SvgLine(out, kL, y(reference), kW - kR, y(reference), "#c62828", "4 3");
  std::string d;
  for (const auto* p : numbers) MoveTo(d, d.empty() ? 'M' : 'L', x(p->atMs), y(p->number));
  out.Start("path")
      .Attr("d", d)
      .Attr("fill", "none")
      .Attr("stroke", "#1565c0")
      .Attr("stroke-width", "1.5")
      .Void();
  if (numbers.size() <= 300) {
    for (const auto* p : numbers) {
      out.Start("circle")
          .AttrFixed("cx", x(p->atMs), 1)
          .AttrFixed("cy", y(p->number), 1)
          .Attr("r", "2.5")
          .Attr("fill", "#1565c0")
          .Element("title", std::to_string(p->atMs) + " ms: " + p->shown)
          .End();
    }
  }
  out.End();
}

void ServersByTime(HtmlWriter& out, const std::vector<const Server*>& order) {
  std::vector<size_t> byTime(order.size());
  for (size_t i = 0; i < byTime.size(); ++i) byTime[i] = i;
  std::stable_sort(byTime.begin(), byTime.end(),
                   [&](size_t a, size_t b) { return order[a]->ms > order[b]->ms; });
  constexpr size_t kShown = 40;
  const size_t shown = std::min(byTime.size(), kShown);
  constexpr int kW = 960, kRow = 16, kLabel = 300, kR = 90;
  const int h = static_cast<int>(shown) * kRow + 8;
  StartSvg(out, kW, h, "Servers by total time, the slowest first");
  const double maxMs = std::max<double>(1.0, static_cast<double>(order[byTime.front()]->ms));
  for (size_t i = 0; i < shown; ++i) {
    const Server* s = order[byTime[i]];
    const double y = 4 + static_cast<double>(i) * kRow;
    out.Start("a").Attr("href", "#s" + std::to_string(byTime[i] + 1));
    std::string name = "/" + s->context + "/" + s->server;
    SvgText(out, kLabel - 6, y + 12, name.size() > 48 ? name.substr(0, 47) + "\xE2\x80\xA6" : name,
            "end");
    const double w = (kW - kLabel - kR) * static_cast<double>(s->ms) / maxMs;
    Rect(out, kLabel, y + 2, std::max(1.0, w), kRow - 4, KindColour(s->failing() ? 1 : 0));
    out.Void();
    SvgText(out, kLabel + 4 + w, y + 12, SecondsText(s->ms));
    out.End();
  }
  out.End();
  if (byTime.size() > shown)
    out.Element("p",
                "The other " + std::to_string(byTime.size() - shown) + " servers took " +
                    SecondsText(order[byTime[shown]]->ms) + " or less.",
                "note");
}

// In 1-2-5 steps of milliseconds.
void AccessHistogram(HtmlWriter& out, const std::vector<const Server*>& order) {
  std::vector<int64_t> edges = {0, 1};
  int64_t maxMs = 0;
  size_t total = 0;
  for (const auto* s : order)
    for (const auto& r : s->rows)
      if (r.kind != Verdict::Skipped) {
        maxMs = std::max(maxMs, r.ms);
        ++total;
      }
  if (total == 0) return;
  for (int64_t step = 1; edges.back() <= maxMs; step *= 10)
    for (const int64_t m : {2, 5, 10})
      if (edges.back() <= maxMs) edges.push_back(step * m);
  std::vector<size_t> counts(edges.size() - 1, 0);
  for (const auto* s : order)
    for (const auto& r : s->rows) {
      if (r.kind == Verdict::Skipped) continue;
      const auto bin = std::upper_bound(edges.begin(), edges.end(), r.ms) - edges.begin() - 1;
      ++counts[std::min(static_cast<size_t>(bin), counts.size() - 1)];
    }
  constexpr int kW = 960, kH = 150, kL = 10, kT = 16, kB = 20;
  const size_t maxCount = *std::max_element(counts.begin(), counts.end());
  const std::string title =
      "Access times of the " + std::to_string(total) + " commands run (whole ms)";
  out.Element("p", title, "plot");
  StartSvg(out, kW, kH, title);
  const double barW = static_cast<double>(kW - 2 * kL) / static_cast<double>(counts.size());
  const double plotH = kH - kT - kB;
  for (size_t i = 0; i < counts.size(); ++i) {
    const double x = kL + static_cast<double>(i) * barW;
    const double bh =
        counts[i] ? std::max(1.0, plotH * static_cast<double>(counts[i]) / maxCount) : 0;
    Rect(out, x + 2, kT + plotH - bh, barW - 4, bh, "#1565c0");
    out.Element("title", std::to_string(counts[i]) + " commands took " + std::to_string(edges[i]) +
                             " to " + std::to_string(edges[i + 1] - 1) + " ms")
        .End();
    SvgText(out, x + barW / 2, kT + plotH - bh - 3, std::to_string(counts[i]), "middle");
    // Whole milliseconds: a bin [a, b) holds a..b-1, the first only 0.
    const int64_t lo = edges[i], hi = edges[i + 1] - 1;
    SvgText(out, x + barW / 2, kH - 5,
            i + 1 == counts.size() ? "\xE2\x89\xA5" + std::to_string(lo)
            : lo == hi             ? std::to_string(lo)
                                   : std::to_string(lo) + "\xE2\x80\x93" + std::to_string(hi),
            "middle");
  }
  out.End();
}

}  // namespace dsc
