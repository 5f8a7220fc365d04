#include "app/HtmlReport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string_view>

#include "access/CompletionCodes.h"
#include "app/Markup.h"
#include "app/OutputText.h"

// The page is a pugixml tree, serialised as XHTML under an HTML doctype:
// every text and attribute goes through the serializer's escaping, so no
// description, answer or error text from a control system can become markup
// (a "<script>" in a device's answer stays text), and the output is
// well-formed XML that tests and tools can read back. Texts are made valid
// for the document first (MarkupText). The same tree built by concatenating
// strings would need every one of a few dozen insertions escaped by hand.

namespace dsc {

namespace {

using Node = pugi::xml_node;
// The outcome kinds, in Verdict's order, then servers not prepared.
const char* KindName(int k) { return k < 4 ? VerdictName(static_cast<Verdict>(k)) : "notprepared"; }
const char* KindName(Verdict v) { return VerdictName(v); }

// The style and the script hold no "<", "&" or ">": the serializer would
// escape them, and an HTML parser does not read references in <style> and
// <script>.
constexpr const char* kStyle = R"css(
:root{--passed:#2e7d32;--failed:#c62828;--error:#ad1457;--skipped:#8d8d8d;--notprepared:#6a1b9a}
body{font:14px/1.35 system-ui,-apple-system,'Segoe UI',sans-serif;margin:0 1.5em 3em;color:#222}
h1{font-size:1.35em;margin:.7em 0 .3em}
h2{font-size:1.1em;margin:1.4em 0 .2em;padding:.25em .4em;background:#f3f3f3;border-left:6px solid #78909c}
section.server h2{border-left-color:var(--passed)}
section.failing h2{border-left-color:var(--failed)}
h2 .ln,td .ln{color:#666;font-weight:normal}
td .ln{display:block;font-size:.9em}
dl.run{display:grid;grid-template-columns:max-content 1fr;gap:.1em 1.2em;margin:.4em 0 .8em}
dl.run dt{color:#666}dl.run dd{margin:0}
.bad{color:var(--failed);font-weight:bold}.good{color:var(--passed);font-weight:bold}
table.totals{border-collapse:collapse;margin:.3em 0}
table.totals td{padding:1px .6em 1px 0}table.totals td.n{text-align:right;font-variant-numeric:tabular-nums}
.sum{color:#444;margin:.2em 0}
nav.failing a{margin-right:.8em}
.tools{position:sticky;top:0;background:#fff;padding:.4em 0;border-bottom:1px solid #ddd;z-index:1}
.tools input[type=search]{width:28em;padding:2px 4px}
.tools label{margin-left:1em;white-space:nowrap}
table.cmds{border-collapse:collapse;width:100%;table-layout:fixed;font-size:13px}
div.rows{content-visibility:auto}
table.cmds th{text-align:left;background:#fafafa;border-bottom:2px solid #ddd;padding:2px 4px}
table.cmds td{border-bottom:1px solid #eee;padding:1px 4px;vertical-align:top;white-space:pre-wrap;overflow-wrap:anywhere}
table.cmds td.n,table.cmds td.ms{text-align:right;font-variant-numeric:tabular-nums}
col.n{width:3.5em}col.d{width:18%}col.p{width:10%}col.v{width:9%}col.k{width:5.5em}col.r{width:19%}col.x{width:13%}col.ms{width:4.5em}
table.cmds tr.failed{background:#fdecea}table.cmds tr.error,table.cmds tr.notprepared{background:#fce4ec}tr.skipped{color:#777}
tr.failed td.k{color:var(--failed);font-weight:bold}tr.error td.k{color:var(--error);font-weight:bold}
tr.notprepared td.k{color:var(--notprepared);font-weight:bold}tr.passed td.k{color:var(--passed)}
tr.to td.ms{color:var(--failed);font-weight:bold}tr.to td.ms::after{content:' time-out';font-weight:normal}
svg{display:block;margin:.3em 0;max-width:100%;height:auto}
svg text{font:11px system-ui,sans-serif;fill:#444}
.note{color:#666;font-size:.9em}
p.plot{margin:.8em 0 0;color:#444;font-size:.9em}
)css";

constexpr const char* kScript = R"js(
(function(){
var q=document.getElementById('q'),boxes=document.querySelectorAll('.tools input.kind'),timer=0;
var rows=document.querySelectorAll('table.cmds tbody tr'),sections=document.querySelectorAll('section.server');
function apply(){
var text=q.value.toLowerCase(),off={},any=text!=='',shown=0;
boxes.forEach(function(b){off[b.value]=!b.checked;if(!b.checked)any=true;});
rows.forEach(function(r){
var miss=text?r.textContent.toLowerCase().indexOf(text)===-1:false;
var hide=off[r.className.split(' ')[0]]===true||miss;
if(r.hidden!==hide)r.hidden=hide;
if(!hide)shown++;
});
sections.forEach(function(s){
s.hidden=any?s.querySelector('tbody tr:not([hidden])')===null:false;
});
document.getElementById('shown').textContent=any?shown+' of '+rows.length+' rows shown':'';
}
q.addEventListener('input',function(){clearTimeout(timer);timer=setTimeout(apply,200);});
boxes.forEach(function(b){b.addEventListener('change',apply);});
})();
)js";

const char* KindColour(int k) {
  static const char* kColours[] = {"#2e7d32", "#c62828", "#ad1457", "#8d8d8d", "#6a1b9a"};
  return kColours[k];
}

// Text made valid for the document; plain text is set without a copy.
void SetText(Node n, std::string_view text) {
  if (IsMarkupText(text)) {
    n.append_child(pugi::node_pcdata).set_value(text.data(), text.size());
  } else {
    const std::string shown = MarkupText(text);
    n.append_child(pugi::node_pcdata).set_value(shown.data(), shown.size());
  }
}

Node El(Node parent, const char* name, const char* cls = nullptr) {
  Node n = parent.append_child(name);
  if (cls) n.append_attribute("class") = cls;
  return n;
}

Node ElText(Node parent, const char* name, std::string_view text, const char* cls = nullptr) {
  Node n = El(parent, name, cls);
  SetText(n, text);
  return n;
}

std::string Fixed(double v, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (decimals > 0) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}

std::string SecondsText(int64_t ms) {
  if (ms < 1000) return std::to_string(ms) + " ms";
  return Fixed(static_cast<double>(ms) / 1000.0, ms < 60000 ? 2 : 1) + " s";
}

std::string UtcTime(int64_t unixMs) {
  const std::time_t secs = static_cast<std::time_t>(unixMs / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return std::string(buf, n);
}

std::string ExitMeaning(int code) {
  switch (code) {
    case 0:
      return "every command succeeded";
    case 1:
      return "a command failed, an access failed or a test could not be prepared";
    case 2:
      return "usage error, or an output that could not be written";
    case 3:
      return "the tests ran but their report is incomplete";
    case 129:
      return "ended by SIGHUP";
    case 130:
      return "ended by SIGINT";
    case 143:
      return "ended by SIGTERM";
    default:
      return "";
  }
}

// An inline SVG of the given size; the page scales it down to the window.
Node Svg(Node parent, int w, int h, const std::string& title) {
  Node svg = El(parent, "svg");
  svg.append_attribute("xmlns") = "http://www.w3.org/2000/svg";
  svg.append_attribute("width") = w;
  svg.append_attribute("height") = h;
  svg.append_attribute("viewBox") = ("0 0 " + std::to_string(w) + " " + std::to_string(h)).c_str();
  svg.append_attribute("role") = "img";
  ElText(svg, "title", title);
  return svg;
}

void SvgText(Node svg, double x, double y, std::string_view text, const char* anchor = nullptr) {
  Node t = svg.append_child("text");
  t.append_attribute("x") = Fixed(x, 1).c_str();
  t.append_attribute("y") = Fixed(y, 1).c_str();
  if (anchor) t.append_attribute("text-anchor") = anchor;
  SetText(t, text);
}

void SvgLine(Node svg, double x1, double y1, double x2, double y2, const char* colour) {
  Node l = svg.append_child("path");
  l.append_attribute("d") =
      ("M" + Fixed(x1, 1) + " " + Fixed(y1, 1) + "L" + Fixed(x2, 1) + " " + Fixed(y2, 1)).c_str();
  l.append_attribute("stroke") = colour;
}

void AppendNumber(std::string& d, double v) {
  char buf[32];
  d.append(buf, std::to_chars(buf, buf + sizeof buf, std::round(v * 10) / 10).ptr);
}

// Elapsed time of each command on a logarithmic scale (one slow access
// must not flatten the others), coloured by outcome, time-outs marked with a
// triangle. Over a thousand commands, a bar stands for the slowest of its
// neighbours, so the picture stays a few kilobytes whatever the run.
void ElapsedPlot(Node parent, const HtmlReport::Server& s) {
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
  ElText(parent, "p", "Elapsed time of each command (logarithmic scale; triangles: time-outs)",
         "plot");
  Node svg = Svg(parent, kW, kH,
                 "Elapsed time of each command of /" + s.context + "/" + s.server +
                     " (logarithmic; triangles: time-outs)");
  // Grid lines at the powers of ten.
  for (int64_t tick = 1; tick <= maxMs; tick *= 10) {
    const double ty = y(tick);
    SvgLine(svg, kL, ty, kW - kR, ty, "#e6e6e6");
    SvgText(svg, kL - 4, ty + 4, SecondsText(tick), "end");
  }
  SvgLine(svg, kL, kT + kPlotH, kW - kR, kT + kPlotH, "#999");
  SvgText(svg, kL - 4, kT + kPlotH + 4, "0", "end");
  const double colW = static_cast<double>(kPlotW) / static_cast<double>(columns);
  std::string d[4], timeouts;
  for (size_t c = 0; c < columns; ++c) {
    int64_t ms = 0;
    int worst = 0;
    bool timedOut = false;
    for (size_t i = c * per; i < std::min(n, (c + 1) * per); ++i) {
      ms = std::max(ms, rows[i].ms);
      const int k = static_cast<int>(rows[i].kind);
      // Error and failure outrank a skip, which outranks a pass.
      const auto rank = [](int kind) { return kind == 0 ? 0 : kind == 3 ? 1 : kind; };
      if (rank(k) > rank(worst)) worst = k;
      timedOut = timedOut || rows[i].timedOut;
    }
    const double x = kL + (static_cast<double>(c) + 0.5) * colW;
    const double y0 = kT + kPlotH;
    // A quick failure still stands out from the passes beside it.
    const double y1 = std::min(y(ms), y0 - (worst == 0 ? 1.5 : 8.0));
    std::string& p = d[worst];
    p += 'M';
    AppendNumber(p, x);
    p += ' ';
    AppendNumber(p, y0);
    p += 'V';
    AppendNumber(p, y1);
    if (timedOut) {
      timeouts += 'M';
      AppendNumber(timeouts, x - 4);
      timeouts += ' ';
      AppendNumber(timeouts, 2);
      timeouts += "h8l-4 7z";
    }
  }
  const std::string width = Fixed(std::max(1.0, colW * 0.8), 2);
  for (int k = 0; k < 4; ++k) {
    if (d[k].empty()) continue;
    Node p = svg.append_child("path");
    p.append_attribute("d") = d[k].c_str();
    p.append_attribute("stroke") = KindColour(k);
    p.append_attribute("stroke-width") = width.c_str();
    p.append_attribute("class") = KindName(k);
  }
  if (!timeouts.empty()) {
    Node p = svg.append_child("path");
    p.append_attribute("d") = timeouts.c_str();
    p.append_attribute("fill") = "#b71c1c";
    p.append_attribute("class") = "timeouts";
  }
  SvgText(svg, kL, kH - 4, "command 1");
  SvgText(
      svg, kW - kR, kH - 4,
      std::to_string(n) + (per > 1 ? " (a bar: the slowest of " + std::to_string(per) + ")" : ""),
      "end");
}

// The values a POLL command was delivered while it waited, over time.
void PollPlot(Node parent, const HtmlReport::Server& s, const HtmlReport::Poll& poll) {
  const HtmlReport::Row& row = s.rows[static_cast<size_t>(poll.row)];
  const auto& ds = poll.deliveries;
  std::vector<const HtmlReport::Delivery*> numbers;
  for (const auto& d : ds)
    if (d.isNumber && std::isfinite(d.number)) numbers.push_back(&d);
  const std::string what = "#" + std::to_string(row.index + 1) + " " + row.description + " (" +
                           row.property + "): " + std::to_string(ds.size()) +
                           (ds.size() == 1 ? " delivery" : " deliveries");
  if (numbers.size() < 2) {
    Node p = ElText(parent, "p", what + ":", "note");
    std::string list;
    for (size_t i = 0; i < ds.size() && i < 50; ++i)
      list += (i ? ", " : " ") + std::to_string(ds[i].atMs) + " ms " + ds[i].shown;
    if (ds.size() > 50) list += ", ...";
    SetText(p, list);
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
  ElText(parent, "p", what + (hasReference ? ", waiting for " + want : ""), "plot");
  Node svg = Svg(parent, kW, kH, what);
  const auto x = [&](int64_t t) {
    return kL + kPlotW * static_cast<double>(t) / static_cast<double>(tMax);
  };
  const auto y = [&](double v) { return kT + kPlotH - kPlotH * (v - lo) / (hi - lo); };
  SvgLine(svg, kL, kT + kPlotH, kW - kR, kT + kPlotH, "#999");
  SvgText(svg, kL - 4, y(hi) + 4, Fixed(hi, 6), "end");
  SvgText(svg, kL - 4, y(lo) + 4, Fixed(lo, 6), "end");
  SvgText(svg, kL, kH - 4, "0 ms");
  SvgText(svg, kW - kR, kH - 4, SecondsText(tMax) + " after the command started", "end");
  if (hasReference) {
    SvgLine(svg, kL, y(reference), kW - kR, y(reference), "#c62828");
    svg.last_child().append_attribute("stroke-dasharray") = "4 3";
  }
  std::string d;
  for (const auto* p : numbers) {
    d += d.empty() ? 'M' : 'L';
    AppendNumber(d, x(p->atMs));
    d += ' ';
    AppendNumber(d, y(p->number));
  }
  Node line = svg.append_child("path");
  line.append_attribute("d") = d.c_str();
  line.append_attribute("fill") = "none";
  line.append_attribute("stroke") = "#1565c0";
  line.append_attribute("stroke-width") = "1.5";
  if (numbers.size() <= 300) {
    for (const auto* p : numbers) {
      Node c = svg.append_child("circle");
      c.append_attribute("cx") = Fixed(x(p->atMs), 1).c_str();
      c.append_attribute("cy") = Fixed(y(p->number), 1).c_str();
      c.append_attribute("r") = "2.5";
      c.append_attribute("fill") = "#1565c0";
      ElText(c, "title", std::to_string(p->atMs) + " ms: " + p->shown);
    }
  }
}

// The servers, slowest first, each bar a link to its section.
void ServersByTime(Node parent, const std::vector<const HtmlReport::Server*>& order,
                   const std::map<const HtmlReport::Server*, std::string>& ids) {
  std::vector<const HtmlReport::Server*> byTime = order;
  std::stable_sort(byTime.begin(), byTime.end(),
                   [](const auto* a, const auto* b) { return a->ms > b->ms; });
  constexpr size_t kShown = 40;
  const size_t shown = std::min(byTime.size(), kShown);
  constexpr int kW = 960, kRow = 16, kLabel = 300, kR = 90;
  const int h = static_cast<int>(shown) * kRow + 8;
  Node svg = Svg(parent, kW, h, "Servers by total time, the slowest first");
  const double maxMs = std::max<double>(1.0, static_cast<double>(byTime.front()->ms));
  for (size_t i = 0; i < shown; ++i) {
    const auto* s = byTime[i];
    const double y = 4 + static_cast<double>(i) * kRow;
    Node a = svg.append_child("a");
    a.append_attribute("href") = ("#" + ids.at(s)).c_str();
    std::string name = "/" + s->context + "/" + s->server;
    SvgText(a, kLabel - 6, y + 12, name.size() > 48 ? name.substr(0, 47) + "\xE2\x80\xA6" : name,
            "end");
    Node r = a.append_child("rect");
    r.append_attribute("x") = kLabel;
    r.append_attribute("y") = Fixed(y + 2, 1).c_str();
    r.append_attribute("width") =
        Fixed(std::max(1.0, (kW - kLabel - kR) * static_cast<double>(s->ms) / maxMs), 1).c_str();
    r.append_attribute("height") = kRow - 4;
    r.append_attribute("fill") = s->failing() ? KindColour(1) : KindColour(0);
    SvgText(a, kLabel + 4 + (kW - kLabel - kR) * static_cast<double>(s->ms) / maxMs, y + 12,
            SecondsText(s->ms));
  }
  if (byTime.size() > shown)
    ElText(parent, "p",
           "The other " + std::to_string(byTime.size() - shown) + " servers took " +
               SecondsText(byTime[shown]->ms) + " or less.",
           "note");
}

// How many accesses took how long, across the whole run, in 1-2-5 steps.
void AccessHistogram(Node parent, const std::vector<const HtmlReport::Server*>& order) {
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
      const size_t bin =
          static_cast<size_t>(std::upper_bound(edges.begin(), edges.end(), r.ms) - edges.begin()) -
          1;
      ++counts[std::min(bin, counts.size() - 1)];
    }
  constexpr int kW = 960, kH = 150, kL = 10, kT = 16, kB = 20;
  const size_t maxCount = *std::max_element(counts.begin(), counts.end());
  const std::string title = "Access times of the " + std::to_string(total) + " commands run (ms)";
  ElText(parent, "p", title, "plot");
  Node svg = Svg(parent, kW, kH, title);
  const double barW = static_cast<double>(kW - 2 * kL) / static_cast<double>(counts.size());
  const double plotH = kH - kT - kB;
  for (size_t i = 0; i < counts.size(); ++i) {
    const double x = kL + static_cast<double>(i) * barW;
    const double bh =
        counts[i] ? std::max(1.0, plotH * static_cast<double>(counts[i]) / maxCount) : 0;
    Node r = svg.append_child("rect");
    r.append_attribute("x") = Fixed(x + 2, 1).c_str();
    r.append_attribute("y") = Fixed(kT + plotH - bh, 1).c_str();
    r.append_attribute("width") = Fixed(barW - 4, 1).c_str();
    r.append_attribute("height") = Fixed(bh, 1).c_str();
    r.append_attribute("fill") = "#1565c0";
    ElText(r, "title",
           std::to_string(counts[i]) + " commands took " + std::to_string(edges[i]) + " to " +
               std::to_string(edges[i + 1] - 1) + " ms");
    SvgText(svg, x + barW / 2, kT + plotH - bh - 3, std::to_string(counts[i]), "middle");
    SvgText(svg, x + barW / 2, kH - 5,
            i + 1 == counts.size()
                ? "\xE2\x89\xA5" + std::to_string(edges[i])
                : std::to_string(edges[i]) + "\xE2\x80\x93" + std::to_string(edges[i + 1]),
            "middle");
  }
}

// An element of HTML without content must still be written with its end
// tag ("<td></td>"), as HTML reads "<td/>" as a start tag only; the void
// elements and the SVG's own elements keep the short form.
void CloseEmptyElements(Node node) {
  for (Node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = child.name();
    if (name == "svg") continue;
    if (!child.first_child() && name != "meta" && name != "input" && name != "col")
      child.append_child(pugi::node_pcdata);
    else
      CloseEmptyElements(child);
  }
}

}  // namespace

HtmlReport::HtmlReport(HtmlRunInfo info) : info_(std::move(info)) {
  if (info_.startedMs == 0) info_.startedMs = UnixMs();
}

bool HtmlReport::Open(const std::string& path, std::string& error) {
  path_ = path;
  return TruncateOutputFile(path, error);
}

HtmlReport::Server& HtmlReport::ServerFor(const std::string& context, const std::string& server) {
  if (!servers_.empty() && servers_.back().context == context && servers_.back().server == server)
    return servers_.back();
  Server& s = servers_.emplace_back();
  s.context = context;
  s.server = server;
  s.startMs = UnixMs();
  return s;
}

void HtmlReport::ServerStarted(const std::string& context, const std::string& server,
                               int32_t planned) {
  // A sweep runs a server's devices one after the other: one section.
  Server& s = ServerFor(context, server);
  s.planned += std::max(planned, 0);
  s.rows.reserve(static_cast<size_t>(s.planned));
}

void HtmlReport::ValueDelivered(int32_t index, int64_t atMs, const DecodedValue& value) {
  if (index != pendingIndex_) {
    pendingDeliveries_.clear();
    pendingIndex_ = index;
  }
  // A long poll keeps its first few thousand values: enough for the picture.
  if (pendingDeliveries_.size() >= 5000) return;
  Delivery d;
  d.atMs = atMs;
  d.shown = value.Display();
  if (value.kind == DecodedValue::Kind::Number && !value.numbers.empty()) {
    d.number = value.numbers[0];
    d.isNumber = true;
  }
  pendingDeliveries_.push_back(std::move(d));
}

void HtmlReport::CommandEnded(const CommandOutcome& o) {
  Server& s = ServerFor(o.context, o.server);
  Row& r = s.rows.emplace_back();
  r.index = o.index;
  r.kind = o.verdict();
  r.status = o.outcome.code;
  r.timedOut = o.outcome.failure == AccessFailure::TimedOut;
  r.ms = o.elapsedMs;
  if (o.command) {
    r.description = o.command->Description;
    r.property = o.command->Property;
    r.device = o.command->Device;
    r.access = o.command->Access;
  }
  r.result = o.resultText;
  if (!o.actual.empty()) r.value = o.actual.Display();
  if (!o.expected.empty()) r.expected = o.expected.Display();
  ++s.counts[static_cast<int>(r.kind)];
  if (pendingIndex_ == o.index && !pendingDeliveries_.empty()) {
    s.polls.push_back({static_cast<int32_t>(s.rows.size() - 1), std::move(pendingDeliveries_)});
    pendingDeliveries_.clear();
  }
  pendingIndex_ = -1;
}

void HtmlReport::ServerEnded(const RunSummary& summary) {
  Server& s = ServerFor(summary.context, summary.server);
  s.ms = UnixMs() - s.startMs;
  s.stoppedBy = summary.stoppedBy;
}

void HtmlReport::ServerNotPrepared(const std::string& context, const std::string& server,
                                   const std::string& reason) {
  ServerFor(context, server).notPrepared = reason.empty() ? "not prepared" : reason;
}

void HtmlReport::Build(pugi::xml_document& doc, const CheckTotals& totals) {
  doc.append_child(pugi::node_doctype).set_value("html");
  Node html = doc.append_child("html");
  html.append_attribute("lang") = "en";
  Node head = El(html, "head");
  El(head, "meta").append_attribute("charset") = "utf-8";
  Node viewport = El(head, "meta");
  viewport.append_attribute("name") = "viewport";
  viewport.append_attribute("content") = "width=device-width, initial-scale=1";
  const int32_t bad = totals.failed + totals.errors + totals.notPrepared;
  ElText(head, "title",
         "ovra-check " + info_.what + ": " +
             (bad ? std::to_string(bad) + " failed" : std::string("all succeeded")));
  ElText(head, "style", kStyle);
  Node body = El(html, "body");

  // The run.
  ElText(body, "h1", "ovra-check " + info_.what);
  Node dl = El(body, "dl", "run");
  const auto item = [&](const char* term, const std::string& value, const char* cls = nullptr) {
    ElText(dl, "dt", term);
    ElText(dl, "dd", value, cls);
  };
  if (!info_.against.empty()) item("Against", info_.against);
  if (!info_.database.empty()) item("Database", info_.database);
  item("Started", UtcTime(info_.startedMs));
  item("Took", SecondsText(totals.elapsedMs));
  const std::string meaning = ExitMeaning(totals.exitCode);
  item("Exit status", std::to_string(totals.exitCode) + (meaning.empty() ? "" : ": " + meaning),
       totals.exitCode == 0 ? "good" : "bad");
  if (!totals.interruptedBy.empty()) item("Interrupted", totals.interruptedBy, "bad");
  if (!totals.reportFile.empty()) item("Report", totals.reportFile);
  item("Servers", std::to_string(servers_.size()));

  // The totals, a bar per outcome kind.
  const int32_t counts[5] = {totals.passed, totals.failed, totals.errors, totals.skipped,
                             totals.notPrepared};
  const char* labels[5] = {"passed", "failed", "error", "skipped (not run)", "not prepared"};
  const int32_t all = std::max(1, totals.tests() + totals.notPrepared);
  Node t = El(body, "table", "totals");
  t.append_attribute("id") = "totals";
  Node tb = El(t, "tbody");
  for (int k = 0; k < 5; ++k) {
    Node tr = El(tb, "tr", KindName(k));
    ElText(tr, "td", labels[k]);
    ElText(tr, "td", std::to_string(counts[k]), "n");
    Node svg =
        Svg(El(tr, "td"), 400, 14, std::string(labels[k]) + ": " + std::to_string(counts[k]));
    Node r = svg.append_child("rect");
    r.append_attribute("width") =
        Fixed(counts[k] ? std::max(1.0, 400.0 * counts[k] / all) : 0.0, 1).c_str();
    r.append_attribute("height") = 14;
    r.append_attribute("fill") = KindColour(k);
  }
  ElText(body, "p", std::to_string(totals.tests()) + " commands", "sum");

  // Servers with a failure first, each group in the order run.
  std::vector<const Server*> order;
  for (const Server& s : servers_) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(),
                   [](const Server* a, const Server* b) { return a->failing() > b->failing(); });
  std::map<const Server*, std::string> ids;
  for (size_t i = 0; i < order.size(); ++i) ids[order[i]] = "s" + std::to_string(i + 1);
  std::map<std::string, std::string> longNames;
  const auto nameOf = [&](const std::string& context, const std::string& server,
                          const std::string& device) -> const std::string& {
    const std::string key = context + '\x1f' + server + '\x1f' + device;
    auto it = longNames.find(key);
    if (it == longNames.end()) {
      std::string n = longName ? longName(context, server, device) : "";
      if (n == (device.empty() ? server : device)) n.clear();
      it = longNames.emplace(key, std::move(n)).first;
    }
    return it->second;
  };

  if (order.size() > 1) {
    Node nav = El(body, "nav", "failing");
    size_t failing = 0;
    for (const Server* s : order) {
      if (!s->failing()) break;
      if (failing++ == 0) ElText(nav, "span", "Failing: ");
      if (failing > 200) {
        ElText(nav, "span", "...");
        break;
      }
      Node a = ElText(nav, "a", "/" + s->context + "/" + s->server);
      a.append_attribute("href") = ("#" + ids[s]).c_str();
    }
    ElText(body, "h2", "Servers by total time");
    ServersByTime(body, order, ids);
  }
  if (totals.tests() > 0) {
    ElText(body, "h2", "Access times");
    AccessHistogram(body, order);
  }

  // The filter and the outcome toggles.
  Node tools = El(body, "div", "tools");
  Node q = El(tools, "input");
  q.append_attribute("type") = "search";
  q.append_attribute("id") = "q";
  q.append_attribute("placeholder") = "Filter: description, property, device, result, value";
  q.append_attribute("aria-label") = "Filter rows";
  for (int k = 0; k < 5; ++k) {
    Node label = El(tools, "label");
    Node box = El(label, "input", "kind");
    box.append_attribute("type") = "checkbox";
    box.append_attribute("value") = KindName(k);
    box.append_attribute("checked") = "checked";
    SetText(label, std::string(" ") + labels[k]);
  }
  ElText(tools, "span", "", "note").append_attribute("id") = "shown";

  for (const Server* s : order) {
    Node sec = El(body, "section", s->failing() ? "server failing" : "server");
    sec.append_attribute("id") = ids[s].c_str();
    Node h2 = ElText(sec, "h2", "/" + s->context + "/" + s->server);
    const std::string& serverLong = nameOf(s->context, s->server, "");
    if (!serverLong.empty()) ElText(h2, "span", "  " + serverLong, "ln");
    std::string sum;
    for (int k = 0; k < 4; ++k)
      if (s->counts[k])
        sum += (sum.empty() ? "" : ", ") + std::to_string(s->counts[k]) + " " + KindName(k);
    if (sum.empty()) sum = "no commands";
    if (s->planned > 0) sum += " of " + std::to_string(s->planned) + " planned";
    if (!s->notPrepared.empty())
      sum = "not prepared";
    else
      sum += ", " + SecondsText(s->ms);
    ElText(sec, "p", sum, "sum");
    if (!s->stoppedBy.empty()) ElText(sec, "p", s->stoppedBy, "bad");
    ElapsedPlot(sec, *s);
    for (const Poll& p : s->polls) PollPlot(sec, *s, p);

    // The rows in tables of kRowsPerTable, each of which the browser lays
    // out only when it comes into view: a run of 32767 commands then opens
    // as fast as a short one. The fixed column widths line them up.
    constexpr size_t kRowsPerTable = 500;
    size_t inTable = 0;
    const size_t rowCount = s->rows.size() + (s->notPrepared.empty() ? 0 : 1);
    size_t tables = 0;
    const auto newTable = [&](bool header) {
      // Until laid out, a table counts as tall as its rows at one line each.
      const size_t rows =
          std::min(kRowsPerTable, rowCount - std::min(rowCount, tables++ * kRowsPerTable));
      Node div = El(sec, "div", "rows");
      div.append_attribute("style") =
          ("contain-intrinsic-size:auto " + std::to_string(19 * rows + (header ? 24 : 0)) + "px")
              .c_str();
      Node table = El(div, "table", "cmds");
      Node cols = El(table, "colgroup");
      for (const char* c : {"n", "d", "p", "v", "k", "r", "x", "x", "ms"}) El(cols, "col", c);
      if (header) {
        Node hr = El(El(table, "thead"), "tr");
        for (const char* h : {"#", "Description", "Property", "Device", "Outcome", "Result",
                              "Value read", "Expected", "ms"})
          ElText(hr, "th", h);
      }
      inTable = 0;
      return El(table, "tbody");
    };
    Node body2 = newTable(true);
    if (!s->notPrepared.empty()) {
      Node tr = El(body2, "tr", "notprepared");
      ElText(tr, "td", "", "n");
      ElText(tr, "td", "preparation");
      ElText(tr, "td", "");
      ElText(tr, "td", "");
      ElText(tr, "td", "not prepared", "k");
      ElText(tr, "td", s->notPrepared);
      ElText(tr, "td", "");
      ElText(tr, "td", "");
      ElText(tr, "td", "", "ms");
    }
    for (const Row& r : s->rows) {
      if (++inTable > kRowsPerTable) {
        body2 = newTable(false);
        inTable = 1;
      }
      Node tr = El(body2, "tr");
      tr.append_attribute("class") =
          r.timedOut ? (std::string(KindName(r.kind)) + " to").c_str() : KindName(r.kind);
      char num[24];
      ElText(tr, "td", std::string_view(num, std::to_chars(num, num + 24, r.index + 1).ptr - num),
             "n");
      ElText(tr, "td", r.description);
      ElText(tr, "td", r.property);
      Node dev = ElText(tr, "td", r.device);
      if (!r.device.empty()) {
        const std::string& devLong = nameOf(s->context, s->server, r.device);
        if (!devLong.empty()) ElText(dev, "span", devLong, "ln");
      }
      ElText(tr, "td", KindName(r.kind), "k");
      ElText(tr, "td", r.result);
      ElText(tr, "td", r.value);
      ElText(tr, "td", r.expected);
      if (r.kind == Verdict::Skipped) {
        ElText(tr, "td", "", "ms");
      } else {
        ElText(tr, "td", std::string_view(num, std::to_chars(num, num + 24, r.ms).ptr - num), "ms");
      }
      // The serializer writes the tree on one line; a line end after each
      // row keeps the file readable in an editor and a diff.
      body2.append_child(pugi::node_pcdata).set_value("\n");
    }
  }
  ElText(body, "script", kScript);
  CloseEmptyElements(html);
}

namespace {
constexpr unsigned kSaveFlags = pugi::format_raw | pugi::format_no_declaration;
}

std::string HtmlReport::Page(const CheckTotals& totals) {
  pugi::xml_document doc;
  Build(doc, totals);
  std::ostringstream out;
  doc.save(out, "", kSaveFlags, pugi::encoding_utf8);
  return std::move(out).str();
}

void HtmlReport::Finished(const CheckTotals& totals) {
  // Straight from the tree into the file: the page of a long run is
  // megabytes, not worth a copy in memory.
  pugi::xml_document doc;
  Build(doc, totals);
  written_ = WriteOutputFile(
      path_,
      [&doc](FILE* f) {
        pugi::xml_writer_file file(f);
        doc.save(file, "", kSaveFlags, pugi::encoding_utf8);
      },
      error_);
}

}  // namespace dsc
