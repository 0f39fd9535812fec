#include "trace.hpp"

#include "../path/walker.hpp"
#include "trace_elements.hpp"

namespace glyph {

namespace {

// Bulge divisor of the spline fit for traced outlines.
constexpr double OUTLINE_BULGE_DIVISOR = 8.0;

// Calls visit(element image, offset, clockwise) for the component outline
// (holes filled) and then every hole.
template <class Visit>
void for_each_element(const BitRaster& image, Visit&& visit) {
    const TraceElements elements = find_trace_elements(image);
    visit(elements.filled ? *elements.filled : image, PointI{0, 0}, true);
    for (const HoleElement& hole : elements.holes) visit(hole.image, hole.offset, false);
}

}  // namespace

std::vector<PixelPath> trace_pixel_paths(const BitRaster& image, PathMode mode) {
    std::vector<PixelPath> paths;
    if (image.has_no_pixels()) return paths;
    for_each_element(image, [&](const BitRaster& element, PointI offset, bool clockwise) {
        PixelPath path = outline_path(element, clockwise, mode);
        if (path.points.empty()) return;
        path.offset(offset);
        paths.push_back(std::move(path));
    });
    return paths;
}

std::vector<Spline> trace_splines(const BitRaster& image, const TraceParams& params) {
    std::vector<Spline> splines;
    if (image.has_no_pixels()) return splines;
    for_each_element(image, [&](const BitRaster& element, PointI offset, bool clockwise) {
        Spline spline = fit_spline_to_mask(element, clockwise, params.corner_threshold, OUTLINE_BULGE_DIVISOR,
                                           params.length_threshold, params.max_iterations, params.splice_threshold,
                                           params.smoothing_budget);
        if (spline.points.size() < 4) return;
        spline.offset(to_float(offset));
        splines.push_back(std::move(spline));
    });
    return splines;
}

CompoundPath trace_image(const BitRaster& image, PointI offset, const TraceParams& params) {
    CompoundPath compound;
    if (params.mode == PathMode::Spline) {
        for (Spline& spline : trace_splines(image, params)) {
            spline.offset(to_float(offset));
            compound.append(std::move(spline));
        }
    } else {
        for (PixelPath& path : trace_pixel_paths(image, params.mode)) {
            path.offset(offset);
            compound.append(std::move(path));
        }
    }
    return compound;
}

}  // namespace glyph
