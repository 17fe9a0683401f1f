// The review page's style sheet, served by the program itself.
#pragma once

namespace qz45trail {

constexpr char kReviewStyle[] = R"css(
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; color: #222; }
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
td.message { white-space: pre-wrap; word-break: break-word; }
td.value { font-family: ui-monospace, monospace; font-size: 12px; }
.error { color: #a00; font-weight: 600; }
.bad { color: #a00; font-weight: 600; }
.ok { color: #070; }
.pages { margin: 10px 0; display: flex; gap: 16px; }
.kinds { display: grid; grid-template-columns: repeat(auto-fill, minmax(420px, 1fr)); gap: 8px 24px; }
.count { font-size: 20px; font-weight: 600; }
.types { font-size: 12px; color: #666; }
svg.chart { max-width: 100%; height: auto; }
textarea { width: 100%; font: inherit; }
.print-head th { background: #fff; font-weight: normal; border: none; }
@media print {
  header, form.filter, .actions, .pages { display: none; }
  main { padding: 0; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  body { font-size: 10px; }
}
)css";

}  // namespace qz45trail
