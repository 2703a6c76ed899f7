// The profile drawn as one SVG: panels stacked along the input, sharing the
// horizontal axis, with every piece that saw a dictionary reset marked by a
// red line across all panels. Written by hand: plain text, no library.
#include "Profile.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

namespace vorka::profile {

namespace {

constexpr double kWidth = 900, kLeft = 80, kRight = 20, kTop = 40, kPanel = 120, kGap = 34;

std::string Num(double v, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

struct TSeries {
  const char* Label;
  const char* Colour;
  std::function<double(const TPieceRow&)> Value;
};

}  // namespace

std::string ProfileSvg(const TProfile& profile, const std::string& title) {
  const TSeries panels[][2] = {
      {{"bits per input byte", "#2471a3", [](const TPieceRow& r) { return r.Bytes ? double(r.Bits) / r.Bytes : 0.0; }},
       {nullptr, nullptr, nullptr}},
      {{"new entries per piece", "#b7950b", [](const TPieceRow& r) { return double(r.NewEntries); }},
       {"codes per piece (dashed)", "#229954", [](const TPieceRow& r) { return double(r.Codes); }}},
      {{"code width, bits", "#7d3c98", [](const TPieceRow& r) { return double(r.Width); }},
       {nullptr, nullptr, nullptr}},
      {{"longest phrase so far", "#ca6f1e", [](const TPieceRow& r) { return double(r.Longest); }},
       {nullptr, nullptr, nullptr}},
  };
  const int panelCount = static_cast<int>(std::size(panels));
  const double height = kTop + panelCount * (kPanel + kGap) + 20;
  const double plotWidth = kWidth - kLeft - kRight;
  const double total = std::max<double>(1.0, static_cast<double>(profile.InputBytes));
  const bool mib = profile.InputBytes >= (1u << 20);
  const double unit = mib ? 1048576.0 : 1024.0;

  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth, 0) + "\" height=\"" +
                    Num(height, 0) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out += "<text x=\"10\" y=\"18\" font-size=\"13\">" + Escape(title) + ": dictionary " +
         std::to_string(profile.DictionarySize) + ", phrase limit " + std::to_string(profile.MaxFragment) +
         ", pieces of 64 KiB; red lines: dictionary resets</text>\n";
  if (profile.Rows.empty()) {
    out += "<text x=\"10\" y=\"60\">empty input: no code stream</text>\n</svg>\n";
    return out;
  }
  auto xOf = [&](const TPieceRow& r) { return kLeft + plotWidth * (r.Offset + r.Bytes / 2.0) / total; };

  for (int p = 0; p < panelCount; ++p) {
    const double y0 = kTop + p * (kPanel + kGap);
    double top = 0;
    for (const TSeries& s : panels[p])
      if (s.Label != nullptr)
        for (const TPieceRow& r : profile.Rows) top = std::max(top, s.Value(r));
    top = top > 0 ? top * 1.1 : 1.0;
    out += "<rect x=\"" + Num(kLeft) + "\" y=\"" + Num(y0) + "\" width=\"" + Num(plotWidth) + "\" height=\"" +
           Num(kPanel) + "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (int t = 0; t <= 2; ++t) {
      const double v = top * t / 2;
      const double y = y0 + kPanel * (1 - t / 2.0);
      out += "<text x=\"" + Num(kLeft - 6) + "\" y=\"" + Num(y + 4) + "\" text-anchor=\"end\">" +
             Num(v, top < 10 ? 2 : 0) + "</text>\n";
    }
    double labelX = kLeft + 4;
    for (const TSeries& s : panels[p]) {
      if (s.Label == nullptr) continue;
      std::string points;
      for (const TPieceRow& r : profile.Rows)
        points += Num(xOf(r)) + "," + Num(y0 + kPanel * (1 - s.Value(r) / top)) + " ";
      // The second measure of a panel is dashed: codes and entries run close.
      const std::string dash = &s == &panels[p][1] ? "\" stroke-dasharray=\"5 3" : "";
      out += "<polyline fill=\"none\" stroke=\"" + std::string(s.Colour) + dash + "\" stroke-width=\"1.5\" points=\"" +
             points + "\"/>\n";
      out += "<text x=\"" + Num(labelX) + "\" y=\"" + Num(y0 - 4) + "\" fill=\"" + s.Colour + "\">" + s.Label +
             "</text>\n";
      labelX += 220;
    }
  }
  // Resets across every panel.
  const double bottom = kTop + panelCount * (kPanel + kGap) - kGap;
  for (const TPieceRow& r : profile.Rows) {
    if (r.Resets == 0) continue;
    out += "<line x1=\"" + Num(xOf(r)) + "\" y1=\"" + Num(kTop) + "\" x2=\"" + Num(xOf(r)) + "\" y2=\"" +
           Num(bottom) + "\" stroke=\"#c0392b\" stroke-opacity=\"0.6\"/>\n";
  }
  for (int t = 0; t <= 4; ++t) {
    const double x = kLeft + plotWidth * t / 4;
    out += "<text x=\"" + Num(x) + "\" y=\"" + Num(bottom + 16) + "\" text-anchor=\"middle\">" +
           Num(total * t / 4 / unit, 1) + "</text>\n";
  }
  out += "<text x=\"" + Num(kLeft + plotWidth / 2) + "\" y=\"" + Num(bottom + 30) +
         "\" text-anchor=\"middle\">input offset, " + (mib ? "MiB" : "KiB") + "</text>\n";
  out += "</svg>\n";
  return out;
}

}  // namespace vorka::profile
