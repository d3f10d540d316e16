#include "Boot/HtmlReport.h"

#include "Boot/Explain.h"
#include "Boot/RuleReport.h"
#include "Boot/RuleToolInputs.h"
#include "Vemo/RuleBase.h"
#include "Vemo/TVemo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace kestrane {

namespace {

const char *const kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};

std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

std::string Num(double value, const char *format = "%.4g") {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Colour(size_t k) { return kPalette[k % (sizeof kPalette / sizeof *kPalette)]; }

// A bar from 0 to value on a scale whose largest |value| is `largest`:
// blue to the right for positive values, red to the left for negative ones.
std::string Bar(double value, double largest, int width = 120) {
  const double half = width / 2.0;
  const double size = largest > 0 ? std::min(1.0, std::fabs(value) / largest) * half : 0.0;
  std::ostringstream svg;
  svg << "<svg class=\"bar\" width=\"" << width << "\" height=\"12\" viewBox=\"0 0 " << width
      << " 12\"><line x1=\"" << half << "\" y1=\"0\" x2=\"" << half
      << "\" y2=\"12\" stroke=\"#999\"/><rect x=\"" << Num(value < 0 ? half - size : half)
      << "\" y=\"2\" width=\"" << Num(size) << "\" height=\"8\" fill=\""
      << (value < 0 ? "#d62728" : "#1f77b4") << "\"/></svg>";
  return svg.str();
}

// A bar from 0 for values that are never negative.
std::string PlainBar(double value, double largest, int width = 120) {
  const double size = largest > 0 ? std::clamp(value / largest, 0.0, 1.0) * width : 0.0;
  std::ostringstream svg;
  svg << "<svg class=\"bar\" width=\"" << width << "\" height=\"12\" viewBox=\"0 0 " << width
      << " 12\"><rect x=\"0\" y=\"2\" width=\"" << Num(size)
      << "\" height=\"8\" fill=\"#1f77b4\"/></svg>";
  return svg.str();
}

double Unscaled(const FeatureRange &f, double scaled) { return f.min + scaled * (f.max - f.min); }

// The membership functions of one input as the network computes them (the
// other inputs at 0.5), over the input's range, with the rows' values as a
// histogram underneath.
std::string MembershipChart(TVemo &network, const ImportRanges &ranges, const ClassRows &rows,
                            int input, int first, int count) {
  const int W = 360, H = 150, left = 8, right = 8, top = 22, bottom = 30;
  const int plotW = W - left - right, plotH = H - top - bottom;
  const int steps = 120;
  const FeatureRange &f = ranges.features[static_cast<size_t>(input)];
  std::vector<double> in(static_cast<size_t>(network.GetNumInputs()), 0.5);
  std::vector<double> out(static_cast<size_t>(network.GetNumOutputs()));
  std::vector<std::string> lines(static_cast<size_t>(count));
  for (int s = 0; s <= steps; ++s) {
    const double x = static_cast<double>(s) / steps;
    in[static_cast<size_t>(input)] = x;
    network.Recall(in.data(), out.data());
    for (int k = 0; k < count; ++k) {
      double degree = 0;
      network.GetActivationValue(TVemo::kConditionLayer, first + k, degree);
      lines[static_cast<size_t>(k)] +=
          Num(left + x * plotW, "%.1f") + "," + Num(top + (1 - degree) * plotH, "%.1f") + " ";
    }
  }
  const int bins = 40;
  std::vector<long> histogram(bins, 0);
  for (size_t r = 0; r < rows.Rows(); ++r) {
    const double v = rows.Row(r)[input];
    if (std::isnan(v))
      continue; // a missing value has no place on the axis
    ++histogram[static_cast<size_t>(std::clamp(static_cast<int>(v * bins), 0, bins - 1))];
  }
  const long most = std::max(1L, *std::max_element(histogram.begin(), histogram.end()));
  std::ostringstream svg;
  svg << "<figure><svg width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W << " " << H
      << "\" role=\"img\" aria-label=\"membership functions of " << Escape(f.name) << "\">";
  for (int b = 0; b < bins; ++b) {
    const double h = 0.35 * plotH * static_cast<double>(histogram[static_cast<size_t>(b)]) / most;
    svg << "<rect x=\"" << Num(left + b * plotW / double(bins), "%.1f") << "\" y=\""
        << Num(top + plotH - h, "%.1f") << "\" width=\"" << Num(plotW / double(bins) - 1, "%.1f")
        << "\" height=\"" << Num(h, "%.1f") << "\" fill=\"#ddd\"/>";
  }
  svg << "<line x1=\"" << left << "\" y1=\"" << top + plotH << "\" x2=\"" << left + plotW
      << "\" y2=\"" << top + plotH << "\" stroke=\"#555\"/>";
  for (int k = 0; k < count; ++k) {
    double centre = 0;
    network.GetWeightValue(TVemo::kConditionCentres, input, first + k, centre);
    const double x = left + std::clamp(centre, 0.0, 1.0) * plotW;
    const std::string colour = Colour(static_cast<size_t>(k));
    svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" points=\""
        << lines[static_cast<size_t>(k)] << "\"/>";
    const char *anchor = k == 0 ? "start" : (k == count - 1 ? "end" : "middle");
    svg << "<text x=\"" << Num(x, "%.1f") << "\" y=\"" << top - 6 << "\" fill=\"" << colour
        << "\" text-anchor=\"" << anchor << "\">" << Escape(TermName(k, count)) << "</text>";
    svg << "<line x1=\"" << Num(x, "%.1f") << "\" y1=\"" << top + plotH << "\" x2=\""
        << Num(x, "%.1f") << "\" y2=\"" << top + plotH + 4 << "\" stroke=\"#555\"/>";
    svg << "<text x=\"" << Num(x, "%.1f") << "\" y=\"" << top + plotH + 16 << "\" text-anchor=\""
        << anchor << "\" class=\"tick\">" << Escape(Num(Unscaled(f, centre))) << "</text>";
  }
  svg << "</svg><figcaption>" << Escape(f.name) << "</figcaption></figure>";
  return svg.str();
}

const char *const kStyle = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 24px; color: #222; max-width: 1200px; }
h1 { font-size: 22px; } h2 { font-size: 18px; margin-top: 32px; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 8px 0; }
td, th { padding: 3px 8px; border-bottom: 1px solid #eee; text-align: left; vertical-align: top; }
th { background: #f4f4f4; } td.n { text-align: right; font-variant-numeric: tabular-nums; }
.charts { display: flex; flex-wrap: wrap; gap: 8px; }
figure { margin: 0; border: 1px solid #eee; padding: 4px; }
figcaption { text-align: center; font-weight: 600; }
svg text { font: 11px system-ui, sans-serif; } svg text.tick { fill: #555; }
svg.bar { vertical-align: middle; } td.b { white-space: nowrap; }
.note { color: #555; } .row { border: 1px solid #ddd; padding: 8px 12px; margin: 12px 0; }
.hidden { display: none; } button { margin: 6px 0; }
.scroll { overflow-x: auto; }
)";

const char *const kScript = R"(
(function () {
  var button = document.getElementById('more-nodes');
  if (button) {
    button.addEventListener('click', function () {
      var rows = document.querySelectorAll('tr.extra');
      for (var i = 0; i < rows.length; i++) rows[i].classList.toggle('hidden');
      button.textContent = button.textContent.indexOf('all') >= 0 ? 'Show fewer' : 'Show all rule nodes';
    });
  }
  document.documentElement.setAttribute('data-rendered', 'yes');
})();
)";

} // namespace

std::string HtmlReport(TVemo &network, const ImportRanges &ranges, const ClassRows &rows,
                       const HtmlReportSource &source) {
  RuleOptions options;
  const RuleBase base = ExtractRules(network, VocabularyOf(ranges), options, &rows);
  int I = 0, C = 0, R = 0, A = 0, O = 0;
  std::vector<int> mfIn, mfOut;
  network.GetStructure(I, C, mfIn, R, A, mfOut, O);
  const int K = O == 1 ? 2 : O;
  std::vector<std::string> names = ranges.classes;
  for (int o = static_cast<int>(names.size()); o < O; ++o)
    names.push_back("y" + std::to_string(o + 1));
  const auto className = [&](int k) {
    if (O == 1)
      return k == 1 ? names[0] : "not " + names[0];
    return names[static_cast<size_t>(k)];
  };

  // The network's answers and the confusion matrix.
  std::vector<int> answers;
  std::vector<std::vector<long>> confusion(static_cast<size_t>(K),
                                           std::vector<long>(static_cast<size_t>(K), 0));
  std::vector<double> out(static_cast<size_t>(O));
  for (size_t r = 0; r < rows.Rows(); ++r) {
    network.Recall(rows.Row(r), out.data());
    answers.push_back(ClassOfOutputs(out.data(), O));
    const int expected = rows.classes[r];
    if (expected >= 0 && expected < K)
      ++confusion[static_cast<size_t>(expected)][static_cast<size_t>(answers.back())];
  }

  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
       << Escape(source.title) << "</title><style>" << kStyle << "</style></head><body>\n";
  html << "<h1>" << Escape(source.title) << "</h1>\n<p>";
  if (!source.networkFile.empty())
    html << "Network <code>" << Escape(source.networkFile) << "</code>: ";
  html << I << " inputs, " << R << " rule nodes, " << K << " classes. ";
  html << "On " << rows.Rows() << " rows";
  if (!source.dataFile.empty())
    html << " of <code>" << Escape(source.dataFile) << "</code>";
  html << ": accuracy <b>" << Num(base.accuracy, "%.2f") << "%</b>; the rules below give the "
       << "network's class on <b>" << Num(base.votes.fidelity, "%.2f") << "%</b> of them.</p>\n";

  html << "<h2>Membership functions</h2>\n<p class=\"note\">Each input's fuzzy sets in its own "
          "units, as the network computes them; grey: how the rows spread over the range.</p>\n"
          "<div class=\"charts\">";
  for (int i = 0, first = 0; i < I; first += mfIn[static_cast<size_t>(i)], ++i)
    html << MembershipChart(network, ranges, rows, i, first, mfIn[static_cast<size_t>(i)]);
  html << "</div>\n";

  const VoteReading &v = base.votes;
  html << "<h2>Rules</h2>\n<p class=\"note\">" << Escape(kVoteReadingHowTo) << "</p>\n<p>Start: ";
  for (int c = 0; c < v.classes; ++c)
    html << (c ? ", " : "") << Escape(className(c)) << " " << Num(v.start[c], "%.1f");
  html << "</p>\n<div class=\"scroll\"><table><tr><th>#</th><th>class</th><th>if</th>"
          "<th>vote</th><th></th><th>rows</th><th>network agrees</th></tr>\n";
  double largestVote = 0;
  for (const VoteRule &rule : v.rules)
    largestVote = std::max(largestVote, rule.vote);
  for (size_t r = 0; r < v.rules.size(); ++r) {
    const VoteRule &rule = v.rules[r];
    html << "<tr><td class=\"n\">" << r + 1 << "</td><td>" << Escape(className(rule.votedClass))
         << "</td><td>";
    for (size_t c = 0; c < rule.conditions.size(); ++c)
      html << (c ? " and " : "") << Escape(VoteConditionText(base, rule.conditions[c]));
    html << "</td><td class=\"n\">+" << Num(rule.vote, "%.1f") << "</td><td class=\"b\">"
         << PlainBar(rule.vote, largestVote) << "</td><td class=\"n\">" << rule.covered
         << "</td><td class=\"n\">"
         << Num(rule.covered ? 100.0 * rule.agreeing / rule.covered : 0.0, "%.1f")
         << "%</td></tr>\n";
  }
  html << "</table></div>\n";

  html << "<h3>The network's rule nodes</h3>\n<p class=\"note\">Every node's strongest "
          "conditions and conclusions with their weights (blue positive, red negative), in "
          "order of importance ("
       << Escape(ImportanceMeasure(base)) << ").</p>\n"
       << "<div class=\"scroll\"><table><tr><th>#</th><th>node</th><th>favours</th>"
          "<th>conditions</th><th>conclusions</th><th>importance</th></tr>\n";
  double largestWeight = 0, largestImportance = 0;
  for (const Rule &rule : base.rules) {
    largestImportance = std::max(largestImportance, rule.importance);
    for (const RuleArc &arc : rule.conditions)
      largestWeight = std::max(largestWeight, std::fabs(arc.weight));
    for (const RuleArc &arc : rule.conclusions)
      largestWeight = std::max(largestWeight, std::fabs(arc.weight));
  }
  const size_t shownNodes = 10;
  for (size_t r = 0; r < base.rules.size(); ++r) {
    const Rule &rule = base.rules[r];
    html << "<tr" << (r >= shownNodes ? " class=\"extra hidden\"" : "") << "><td class=\"n\">"
         << r + 1 << "</td><td class=\"n\">" << rule.node << "</td><td>"
         << (rule.concludedClass >= 0 ? Escape((rule.against ? "not " + className(rule.againstClass)
                                                             : className(rule.concludedClass)))
                                      : "")
         << "</td><td>";
    for (const RuleArc &arc : rule.conditions)
      html << Bar(arc.weight, largestWeight, 80) << " " << Escape(arc.text) << "<br>";
    html << "</td><td>";
    for (const RuleArc &arc : rule.conclusions)
      html << Bar(arc.weight, largestWeight, 80) << " " << Escape(arc.text) << "<br>";
    html << "</td><td>" << PlainBar(rule.importance, largestImportance, 80) << " "
         << Num(rule.importance, "%.3f") << "</td></tr>\n";
  }
  html << "</table></div>\n";
  if (base.rules.size() > shownNodes)
    html << "<button id=\"more-nodes\" type=\"button\">Show all rule nodes</button>\n";

  html << "<h2>Confusion matrix</h2>\n<p class=\"note\">Rows: the rows' own class; columns: the "
          "network's answer.</p>\n<div class=\"scroll\"><table><tr><th></th>";
  for (int k = 0; k < K; ++k)
    html << "<th>" << Escape(className(k)) << "</th>";
  html << "</tr>\n";
  for (int e = 0; e < K; ++e) {
    long total = 0;
    for (long n : confusion[static_cast<size_t>(e)])
      total += n;
    html << "<tr><th>" << Escape(className(e)) << "</th>";
    for (int k = 0; k < K; ++k) {
      const long n = confusion[static_cast<size_t>(e)][static_cast<size_t>(k)];
      const double share = total ? static_cast<double>(n) / static_cast<double>(total) : 0.0;
      html << "<td class=\"n\" style=\"background: rgba(" << (e == k ? "31,119,180" : "214,39,40")
           << "," << Num(0.6 * share, "%.3f") << ")\">" << n << "</td>";
    }
    html << "</tr>\n";
  }
  html << "</table></div>\n";

  html << "<h2>Feature importance</h2>\n<p class=\"note\">Accuracy points lost when the feature "
          "is shuffled across the rows (mean of "
       << std::max(1, base.options.shuffles) << " shuffles).</p>\n<table>";
  double largestDrop = 0;
  for (const FeatureImportance &f : base.featureImportance)
    largestDrop = std::max(largestDrop, std::fabs(f.drop));
  for (const FeatureImportance &f : base.featureImportance) {
    html << "<tr><td>" << Escape(ranges.features[static_cast<size_t>(f.input)].name) << "</td><td>"
         << Bar(f.drop, largestDrop, 200) << "</td><td class=\"n\">" << Num(f.drop, "%+.2f")
         << "</td></tr>\n";
  }
  html << "</table>\n";

  // A few rows: the first wrong answers, then the first right one of each class.
  std::vector<size_t> chosen;
  for (size_t r = 0; r < rows.Rows() && chosen.size() < 2; ++r) {
    if (answers[r] != rows.classes[r])
      chosen.push_back(r);
  }
  for (int k = 0; k < K && chosen.size() < 5; ++k) {
    for (size_t r = 0; r < rows.Rows(); ++r) {
      if (answers[r] == rows.classes[r] && rows.classes[r] == k) {
        chosen.push_back(r);
        break;
      }
    }
  }
  std::sort(chosen.begin(), chosen.end());
  html << "<h2>A few rows explained</h2>\n<p class=\"note\">The network's outputs, and the rule "
          "nodes that moved the answer's vote most: firing degree, vote for the answer (each "
          "node's firing &times; weights, weighted by the centres of the class's functions; the "
          "terms add up to the network's net inputs exactly, see docs/explain.md) and the "
          "membership degrees behind it.</p>\n";
  for (size_t r : chosen) {
    const ExplainedRow e = ExplainRow(network, rows.Row(r), 3);
    html << "<div class=\"row\"><b>Row " << r + 1 << "</b>: class "
         << Escape(className(rows.classes[r])) << ", network answers <b>"
         << Escape(className(e.predicted)) << "</b>"
         << (e.predicted == rows.classes[r] ? "" : " (wrong)") << "<br>";
    for (int o = 0; o < O; ++o) {
      html << Escape(names[static_cast<size_t>(o)]) << " "
           << PlainBar(e.outputs[static_cast<size_t>(o)], 1.0, 80) << " "
           << Num(e.outputs[static_cast<size_t>(o)], "%.3f") << "&nbsp;&nbsp; ";
    }
    html << "<table><tr><th>node</th><th>firing</th><th>vote for " << Escape(className(e.predicted))
         << "</th><th>inputs behind it (degree &times; "
         << "weight)</th></tr>\n";
    double largest = 0;
    const int answer = O > 1 ? e.predicted : 0;
    for (int q : e.strongest)
      largest = std::max(largest, std::fabs(e.rules[static_cast<size_t>(q)].votes[answer]));
    for (size_t s = 0; s < e.strongest.size(); ++s) {
      const ExplainedRule &rule = e.rules[static_cast<size_t>(e.strongest[s])];
      html << "<tr><td class=\"n\">" << rule.node << "</td><td class=\"n\">"
           << Num(rule.firing, "%.3f") << "</td><td class=\"b\">"
           << Bar(rule.votes[answer], largest, 100) << " " << Num(rule.votes[answer], "%+.3f")
           << "</td><td>";
      for (const ExplainedCondition &c : e.behind[s]) {
        const FeatureRange &f = ranges.features[static_cast<size_t>(c.input)];
        html << Escape(f.name) << " "
             << Escape(TermName(c.term, mfIn[static_cast<size_t>(c.input)])) << " "
             << Num(c.degree, "%.2f") << "&times;" << Num(c.weight, "%+.2f") << "; ";
      }
      html << "</td></tr>\n";
    }
    html << "</table>Inputs: ";
    for (int i = 0; i < I; ++i) {
      html << (i ? ", " : "") << Escape(ranges.features[static_cast<size_t>(i)].name) << " "
           << Num(Unscaled(ranges.features[static_cast<size_t>(i)],
                           e.scaled[static_cast<size_t>(i)]));
    }
    html << "</div>\n";
  }
  html << "<p class=\"note\">Written by kestrane-tool report.</p>\n<script>" << kScript
       << "</script>\n</body></html>\n";
  return html.str();
}

} // namespace kestrane
