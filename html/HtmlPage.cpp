#include "html/HtmlPage.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "html/HtmlPlots.h"

// The page is written as it goes through HtmlWriter, which puts every text
// and attribute value through AppendMarkup: no description, answer or error
// text from a control system can become markup (a "<script>" in a device's
// answer stays text), and the output is well-formed XML under an HTML
// doctype. A template engine would add a dependency for a page whose shape
// is this one file; a tree (pugixml, as the JUnit file is built) costs a
// node per cell and the whole page twice in memory.

namespace dsc {

namespace {

using Server = HtmlRun::Server;

// The style and the script hold no "<", "&" or ">": they are written as
// they stand (an HTML parser reads no references in <style> and <script>),
// and the page stays well-formed XML.
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
table.cmds td:nth-child(1),table.cmds td:nth-child(9){text-align:right;font-variant-numeric:tabular-nums}
col.n{width:3.5em}col.d{width:18%}col.p{width:10%}col.v{width:9%}col.k{width:5.5em}col.r{width:19%}col.x{width:13%}col.ms{width:4.5em}
table.cmds tr.failed{background:#fdecea}table.cmds tr.error,table.cmds tr.notprepared{background:#fce4ec}tr.skipped{color:#777}
tr.failed td:nth-child(5){color:var(--failed);font-weight:bold}tr.error td:nth-child(5){color:var(--error);font-weight:bold}
tr.notprepared td:nth-child(5){color:var(--notprepared);font-weight:bold}tr.passed td:nth-child(5){color:var(--passed)}
tr.to td:nth-child(9){color:var(--failed);font-weight:bold}tr.to td:nth-child(9)::after{content:' time-out';font-weight:normal}
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

const char* const kLabels[5] = {"passed", "failed", "error", "skipped (not run)", "not prepared"};

void WriteHead(HtmlWriter& out, const HtmlRun& run, const CheckTotals& totals) {
  out.Own("<!DOCTYPE html>").Start("html").Attr("lang", "en").Start("head");
  out.Start("meta").Attr("charset", "utf-8").Void();
  out.Start("meta")
      .Attr("name", "viewport")
      .Attr("content", "width=device-width, initial-scale=1")
      .Void();
  const int32_t bad = totals.failed + totals.errors + totals.notPrepared;
  out.Element("title", "ovra-check " + run.info.what + ": " +
                           (bad ? std::to_string(bad) + " failed" : std::string("all succeeded")));
  out.Start("style").Own(kStyle).End().End();
}

// What was run, against what, when, how it ended; the totals, a bar each.
void WriteRun(HtmlWriter& out, const HtmlRun& run, const CheckTotals& totals) {
  const HtmlRunInfo& info = run.info;
  out.Element("h1", "ovra-check " + info.what);
  out.Start("dl", "run");
  const auto item = [&](const char* term, const std::string& value, const char* cls = nullptr) {
    out.Element("dt", term).Element("dd", value, cls);
  };
  if (!info.against.empty()) item("Against", info.against);
  if (!info.database.empty()) item("Database", info.database);
  item("Started", UtcTime(info.startedMs));
  item("Took", SecondsText(totals.elapsedMs));
  const std::string meaning = ExitMeaning(totals.exitCode);
  item("Exit status", std::to_string(totals.exitCode) + (meaning.empty() ? "" : ": " + meaning),
       totals.exitCode == 0 ? "good" : "bad");
  if (!totals.interruptedBy.empty()) item("Interrupted", totals.interruptedBy, "bad");
  if (!totals.reportFile.empty()) item("Report", totals.reportFile);
  item("Servers", std::to_string(run.servers.size()));
  out.End();

  const int32_t counts[5] = {totals.passed, totals.failed, totals.errors, totals.skipped,
                             totals.notPrepared};
  const int32_t all = std::max(1, totals.tests() + totals.notPrepared);
  out.Start("table", "totals").Attr("id", "totals").Start("tbody");
  for (int k = 0; k < 5; ++k) {
    out.Start("tr", KindName(k)).Element("td", kLabels[k]);
    out.Element("td", std::to_string(counts[k]), "n").Start("td");
    TotalBar(out, k, counts[k], all, std::string(kLabels[k]) + ": " + std::to_string(counts[k]));
    out.End().End();
  }
  out.End().End();
  out.Element("p", std::to_string(totals.tests()) + " commands", "sum");
}

// The filter and the outcome toggles, which the script at the end serves.
void WriteTools(HtmlWriter& out) {
  out.Start("div", "tools");
  out.Start("input")
      .Attr("type", "search")
      .Attr("id", "q")
      .Attr("placeholder", "Filter: description, property, device, result, value")
      .Attr("aria-label", "Filter rows")
      .Void();
  for (int k = 0; k < 5; ++k) {
    out.Start("label");
    out.Start("input", "kind")
        .Attr("type", "checkbox")
        .Attr("value", KindName(k))
        .Attr("checked", "checked")
        .Void();
    out.Text(" ").Text(kLabels[k]).End();
  }
  out.Start("span", "note").Attr("id", "shown").End();
  out.End();
}

// The control system's own names, asked once each.
class LongNames {
 public:
  explicit LongNames(const HtmlRun& run) : run_(run) {}
  const std::string& Of(const std::string& context, const std::string& server,
                        const std::string& device) {
    static const std::string kNone;
    if (!run_.longName) return kNone;
    std::string key = context + '\x1f' + server + '\x1f' + device;
    auto it = names_.find(key);
    if (it == names_.end()) {
      std::string n = run_.longName(context, server, device);
      if (n == (device.empty() ? server : device)) n.clear();
      it = names_.emplace(std::move(key), std::move(n)).first;
    }
    return it->second;
  }

 private:
  const HtmlRun& run_;
  std::map<std::string, std::string> names_;
};

void Cell(HtmlWriter& out, std::string_view text, const char* cls = nullptr) {
  out.Element("td", text, cls);
}

// Digits need no markup: the cell goes out whole (two of them a row).
void Number(HtmlWriter& out, int64_t n) {
  char cell[40] = "<td>";
  char* end = std::to_chars(cell + 4, cell + 30, n).ptr;
  end = std::copy_n("</td>", 5, end);
  out.Own(std::string_view(cell, static_cast<size_t>(end - cell)));
}

// The cells of a row carry no class (the style picks them by column): a
// page of 32767 rows is then a sixth smaller and parses faster.
// The rows in tables of kRowsPerTable, each of which the browser lays out
// only when it comes into view: a run of 32767 commands then opens as fast
// as a short one. The fixed column widths line them up.
constexpr size_t kRowsPerTable = 500;

void StartTable(HtmlWriter& out, size_t rows, bool header) {
  // Until laid out, a table counts as tall as its rows at one line each.
  out.Start("div", "rows")
      .Attr("style",
            "contain-intrinsic-size:auto " + std::to_string(19 * rows + (header ? 24 : 0)) + "px");
  out.Start("table", "cmds").Start("colgroup");
  for (const char* c : {"n", "d", "p", "v", "k", "r", "x", "x", "ms"}) out.Start("col", c).Void();
  out.End();
  if (header) {
    out.Start("thead").Start("tr");
    for (const char* h : {"#", "Description", "Property", "Device", "Outcome", "Result",
                          "Value read", "Expected", "ms"})
      out.Element("th", h);
    out.End().End();
  }
  out.Start("tbody");
}

void WriteRows(HtmlWriter& out, const Server& s, LongNames& names) {
  const size_t total = s.rows.size() + (s.notPrepared.empty() ? 0 : 1);
  StartTable(out, std::min(total, kRowsPerTable), true);
  size_t inTable = 0, done = 0;
  if (!s.notPrepared.empty()) {
    out.Start("tr", "notprepared");
    Cell(out, "");
    Cell(out, "preparation");
    Cell(out, "");
    Cell(out, "");
    Cell(out, "not prepared");
    Cell(out, s.notPrepared);
    Cell(out, "");
    Cell(out, "");
    Cell(out, "");
    out.End();
    ++inTable;
    ++done;
  }
  const std::string* lastDevice = nullptr;
  const std::string* lastLong = nullptr;
  for (const HtmlRun::Row& r : s.rows) {
    if (inTable++ == kRowsPerTable) {
      out.End().End().End();
      StartTable(out, std::min(total - done, kRowsPerTable), false);
      inTable = 1;
    }
    ++done;
    const char* kind = KindName(static_cast<int>(r.kind));
    out.Start("tr");
    if (r.timedOut) {
      out.Attr("class", std::string(kind) + " to");
    } else {
      out.Attr("class", kind);
    }
    Number(out, r.index + 1);
    Cell(out, r.description);
    Cell(out, r.property);
    out.Start("td").Text(r.device);
    if (!r.device.empty()) {
      // Rows of one device follow each other: ask the names only when it changes.
      if (!lastLong || r.device != *lastDevice) {
        lastDevice = &r.device;
        lastLong = &names.Of(s.context, s.server, r.device);
      }
      if (!lastLong->empty()) out.Element("span", *lastLong, "ln");
    }
    out.End();
    Cell(out, kind);
    Cell(out, r.result);
    Cell(out, r.value);
    Cell(out, r.expected);
    if (r.kind == Verdict::Skipped) {
      Cell(out, "");
    } else {
      Number(out, r.ms);
    }
    // A line end after each row keeps the file readable in an editor and a
    // diff.
    out.End().Own("\n");
  }
  out.End().End().End();
}

void WriteServer(HtmlWriter& out, const Server& s, size_t position, LongNames& names) {
  out.Start("section", s.failing() ? "server failing" : "server")
      .Attr("id", "s" + std::to_string(position + 1));
  out.Start("h2").Text("/" + s.context + "/" + s.server);
  const std::string& serverLong = names.Of(s.context, s.server, "");
  if (!serverLong.empty()) out.Element("span", "  " + serverLong, "ln");
  out.End();
  std::string sum;
  for (int k = 0; k < 4; ++k)
    if (s.counts[k])
      sum += (sum.empty() ? "" : ", ") + std::to_string(s.counts[k]) + " " + KindName(k);
  if (sum.empty()) sum = "no commands";
  if (s.planned > 0) sum += " of " + std::to_string(s.planned) + " planned";
  if (!s.notPrepared.empty())
    sum = "not prepared";
  else
    sum += ", " + SecondsText(s.ms);
  out.Element("p", sum, "sum");
  if (!s.stoppedBy.empty()) out.Element("p", s.stoppedBy, "bad");
  ElapsedPlot(out, s);
  for (const HtmlRun::Poll& p : s.polls) PollPlot(out, s, p);
  WriteRows(out, s, names);
  out.End();
}

}  // namespace

void WritePage(HtmlWriter& out, const HtmlRun& run, const CheckTotals& totals) {
  WriteHead(out, run, totals);
  out.Start("body");
  WriteRun(out, run, totals);

  // Servers with a failure first, each group in the order run.
  std::vector<const Server*> order;
  for (const Server& s : run.servers) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(),
                   [](const Server* a, const Server* b) { return a->failing() > b->failing(); });
  if (order.size() > 1) {
    out.Start("nav", "failing");
    for (size_t i = 0; i < order.size() && order[i]->failing(); ++i) {
      if (i == 0) out.Element("span", "Failing: ");
      if (i == 200) {
        out.Element("span", "...");
        break;
      }
      out.Start("a")
          .Attr("href", "#s" + std::to_string(i + 1))
          .Text("/" + order[i]->context + "/" + order[i]->server)
          .End();
    }
    out.End();
    out.Element("h2", "Servers by total time");
    ServersByTime(out, order);
  }
  if (totals.tests() > 0) {
    out.Element("h2", "Access times");
    AccessHistogram(out, order);
  }
  WriteTools(out);
  LongNames names(run);
  for (size_t i = 0; i < order.size(); ++i) WriteServer(out, *order[i], i, names);
  out.Start("script").Own(kScript).End();
  out.End().End();
}

}  // namespace dsc
