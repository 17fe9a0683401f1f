// The review page's style sheet, served by the program itself.
#pragma once

namespace qz45trail {

constexpr char kReviewStyle[] = R"css(
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; color: #222; }
.skip { position: absolute; left: 8px; top: -40px; background: #fff; color: #2d3e50; padding: 4px 8px; z-index: 1; }
.skip:focus { top: 8px; }
a:focus-visible, button:focus-visible, input:focus-visible, select:focus-visible { outline: 2px solid #1a5fb4; outline-offset: 1px; }
header nav { display: flex; gap: 24px; }
header { background: #2d3e50; color: #fff; padding: 8px 16px; display: flex; gap: 24px; align-items: baseline; }
header a { color: #fff; text-decoration: none; font-weight: 600; }
header a.here { border-bottom: 2px solid #fff; }
header .who { margin-left: auto; font-size: 12px; opacity: .8; }
main { padding: 12px 16px; }
h1 { font-size: 18px; margin: 8px 0 12px; }
h2 { font-size: 16px; margin: 20px 0 8px; }
form.filter { display: flex; flex-wrap: wrap; gap: 8px 12px; align-items: end; margin-bottom: 12px; }
form.filter label { display: flex; flex-direction: column; font-size: 12px; color: #555; }
form.filter input, form.filter select { font: inherit; padding: 2px 4px; }
.actions a { margin-left: 8px; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 3px 6px; border-bottom: 1px solid #ddd; vertical-align: top; }
th { background: #f2f4f6; font-weight: 600; }
td.num { text-align: right; }
/* Words wrap between words only, never inside one. */
td, th { overflow-wrap: normal; word-break: normal; hyphens: manual; }
td.message { white-space: pre-wrap; min-width: 14em; }
td.descriptor, td.property, td.machine, td.line, td.time, td.category { white-space: nowrap; }
td.value { font-family: ui-monospace, monospace; font-size: 12px; }
.error { color: #a00; font-weight: 600; }
.bad { color: #a00; font-weight: 600; }
.ok { color: #070; }
.pages { margin: 10px 0; display: flex; gap: 16px; }
.kinds section { margin-bottom: 16px; }
.kinds table { font-size: 13px; }
.lists a { margin-right: 12px; }
.confirm { border: 2px solid #070; padding: 4px 12px; margin-bottom: 12px; }
.position { display: inline-block; margin-right: 12px; white-space: nowrap; font-family: ui-monospace, monospace; font-size: 12px; }
fieldset { border: 1px solid #ccc; font-size: 12px; color: #555; }
form.filter label.choice { flex-direction: row; align-items: center; gap: 4px; color: #222; font-size: 14px; }
.t { white-space: nowrap; }
#chart-values { width: auto; margin-top: 8px; }
#chart-values caption { text-align: left; font-size: 12px; color: #555; }
.count { font-size: 20px; font-weight: 600; }
.types { font-size: 12px; color: #666; }
svg.chart { max-width: 100%; height: auto; }
textarea { width: 100%; font: inherit; }
.print-head th { background: #fff; font-weight: normal; border: none; }
@page {
  size: A4 landscape;
  margin: 12mm 10mm 14mm;
  @bottom-right { content: "page " counter(page) " of " counter(pages); font: 9px system-ui, sans-serif; }
}
@media print {
  header, form.filter, .actions, .pages, .skip { display: none; }
  #print th.message, #print td.message { width: 28%; }
  main { padding: 0; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  body { font-size: 10px; }
}
)css";

}  // namespace qz45trail
