// svg.cpp - the plot writer of a path.
#include "output/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/path.h"

namespace vhost {

namespace {

constexpr double kLeft = 100, kRight = 720, kWidth = 820, kHeight = 720;

// A panel's frame on the page and the ranges it shows.
struct Frame {
    double top, bottom; // pixels
    double xlo, xhi, ylo, yhi;
    double px(double x) const { return kLeft + (x - xlo) / (xhi - xlo) * (kRight - kLeft); }
    double py(double y) const { return bottom - (y - ylo) / (yhi - ylo) * (bottom - top); }
};

// Text for an SVG text node or attribute.
std::string escaped(const std::string &s) {
    std::string out;
    for (char c : s) {
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

// printf into a string.
template <class... A> std::string format(const char *f, A... a) {
    char buf[512];
    std::snprintf(buf, sizeof buf, f, a...);
    return buf;
}

// The finite range of v, widened when empty or flat.
std::pair<double, double> rangeOf(const std::vector<double> &v) {
    double lo = INFINITY, hi = -INFINITY;
    for (double d : v)
        if (std::isfinite(d)) lo = std::min(lo, d), hi = std::max(hi, d);
    if (!(lo <= hi)) return {0, 1};
    if (lo == hi)
        return {lo - (lo == 0 ? 1 : std::fabs(lo) * 0.1), hi + (hi == 0 ? 1 : std::fabs(hi) * 0.1)};
    return {lo, hi};
}

// The range of v with a margin of 5 % on either side, so no line runs
// along the frame.
std::pair<double, double> paddedRange(const std::vector<double> &v) {
    const auto [lo, hi] = rangeOf(v);
    return {lo - 0.05 * (hi - lo), hi + 0.05 * (hi - lo)};
}

// About six round tick values from lo to hi.
std::vector<double> ticks(double lo, double hi) {
    const double raw = (hi - lo) / 6, mag = std::pow(10, std::floor(std::log10(raw)));
    const double step = raw / mag < 2 ? 2 * mag : raw / mag < 5 ? 5 * mag : 10 * mag;
    std::vector<double> t;
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step)
        t.push_back(std::fabs(v) < step * 1e-9 ? 0 : v);
    return t;
}

// The line through the finite points of (x, y), broken where one is not.
std::string polylines(const Frame &f, const std::vector<double> &x, const std::vector<double> &y,
                      const char *style) {
    std::string out, points;
    auto flush = [&] {
        if (!points.empty())
            out +=
                "<polyline fill=\"none\" " + std::string(style) + " points=\"" + points + "\"/>\n";
        points.clear();
    };
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (!std::isfinite(y[i]) || !std::isfinite(x[i])) {
            flush();
            continue;
        }
        points += format("%.2f,%.2f ", f.px(x[i]), f.py(y[i]));
    }
    flush();
    return out;
}

// The frame, its grid and tick labels, and the y axis' name on the left.
std::string axes(const Frame &f, const std::string &yLabel) {
    std::string out = format(
        "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"black\"/>\n",
        kLeft, f.top, kRight - kLeft, f.bottom - f.top);
    for (double t : ticks(f.xlo, f.xhi))
        out +=
            format("<line x1=\"%.2f\" y1=\"%g\" x2=\"%.2f\" y2=\"%g\" stroke=\"#ddd\"/>\n"
                   "<text x=\"%.2f\" y=\"%g\" font-size=\"11\" text-anchor=\"middle\">%g</text>\n",
                   f.px(t), f.top, f.px(t), f.bottom, f.px(t), f.bottom + 14, t);
    for (double t : ticks(f.ylo, f.yhi))
        out +=
            format("<line x1=\"%g\" y1=\"%.2f\" x2=\"%g\" y2=\"%.2f\" stroke=\"#ddd\"/>\n"
                   "<text x=\"%g\" y=\"%.2f\" font-size=\"11\" text-anchor=\"end\">%.4g</text>\n",
                   kLeft, f.py(t), kRight, f.py(t), kLeft - 4, f.py(t) + 4, t);
    out += format("<text transform=\"translate(%g,%g) rotate(-90)\" font-size=\"12\" "
                  "text-anchor=\"middle\">",
                  kLeft - 70, (f.top + f.bottom) / 2) +
           escaped(yLabel) + "</text>\n";
    return out;
}

// Liquidus and solidus as dashed vertical lines, named at the top.
std::string freezingRange(const Frame &f, double liquidus, double solidus) {
    std::string out;
    for (auto [t, name] : {std::pair{liquidus, "liquidus"}, std::pair{solidus, "solidus"}}) {
        if (!(t >= std::min(f.xlo, f.xhi) && t <= std::max(f.xlo, f.xhi))) continue;
        out += format("<line x1=\"%.2f\" y1=\"%g\" x2=\"%.2f\" y2=\"%g\" stroke=\"#c33\" "
                      "stroke-dasharray=\"6,4\"/>\n<text x=\"%.2f\" y=\"%g\" font-size=\"11\" "
                      "fill=\"#c33\" text-anchor=\"middle\">%s</text>\n",
                      f.px(t), f.top, f.px(t), f.bottom, f.px(t), f.top - 4, name);
    }
    return out;
}

// The upper panel: the values, the solid fraction on the right axis.
std::string valuePanel(const CurvePlot &p, const Frame &f) {
    std::string out = axes(f, p.yLabel) + freezingRange(f, p.liquidus, p.solidus);
    Frame fs = f;
    fs.ylo = 0, fs.yhi = 1;
    for (double t : {0.0, 0.25, 0.5, 0.75, 1.0})
        out += format("<text x=\"%g\" y=\"%.2f\" font-size=\"11\" fill=\"#36c\">%g</text>\n",
                      kRight + 4, fs.py(t) + 4, t);
    out += format("<text transform=\"translate(%g,%g) rotate(90)\" font-size=\"12\" fill=\"#36c\" "
                  "text-anchor=\"middle\">solid fraction fs [-]</text>\n",
                  kRight + 45, (f.top + f.bottom) / 2);
    out += polylines(fs, p.x, p.fs, "stroke=\"#36c\" stroke-dasharray=\"4,3\"");
    return out + polylines(f, p.x, p.y, "stroke=\"black\" stroke-width=\"1.5\"");
}

} // namespace

std::string curveSvg(const CurvePlot &p) {
    const auto [xlo, xhi] = rangeOf(p.x);
    const auto [ylo, yhi] = paddedRange(p.y);
    const std::vector<double> d = derivative(p.x, p.y);
    const auto [dlo, dhi] = paddedRange(d);
    const Frame top{60, 400, xlo, xhi, ylo, yhi}, bottom{470, 660, xlo, xhi, dlo, dhi};
    std::string out =
        format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
               "viewBox=\"0 0 %g %g\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
               kWidth, kHeight, kWidth, kHeight);
    out += "<text x=\"410\" y=\"30\" font-size=\"15\" text-anchor=\"middle\">" + escaped(p.title) +
           "</text>\n";
    out += "<g>\n" + valuePanel(p, top) + "</g>\n<g>\n" + axes(bottom, p.dLabel) +
           freezingRange(bottom, p.liquidus, p.solidus) +
           polylines(bottom, p.x, d, "stroke=\"black\"") + "</g>\n";
    out += format("<text x=\"%g\" y=\"700\" font-size=\"12\" text-anchor=\"middle\">",
                  (kLeft + kRight) / 2) +
           escaped(p.xLabel) + "</text>\n</svg>\n";
    return out;
}

} // namespace vhost
