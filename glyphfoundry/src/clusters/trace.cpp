#include "trace.hpp"

#include "../path/walker.hpp"
#include "trace_elements.hpp"

namespace glyph {

namespace {

// Bulge divisor of the spline fit for traced outlines.
constexpr double OUTLINE_BULGE_DIVISOR = 8.0;

// Calls visit(element, offset, clockwise) for the component outline (holes
// filled) and then for every hole.
template <class Visit>
void for_each_element(const RunMask& image, Visit&& visit) {
    const TraceElements elements = find_trace_elements(image);
    visit(elements.filled ? *elements.filled : image, PointI{0, 0}, true);
    for (const HoleElement& hole : elements.holes) visit(hole.image, hole.offset, false);
}

// `original` as in splines() below: a pixel query on bits is a direct read,
// on runs a search.
std::vector<PixelPath> pixel_paths(const RunMask& image, const BitRaster* original, PathMode mode) {
    std::vector<PixelPath> paths;
    for_each_element(image, [&](const RunMask& element, PointI offset, bool clockwise) {
        const std::optional<PointI> start = element.first_set_pixel();
        if (!start) return;
        PixelPath path = original != nullptr && &element == &image ? walk_outline(*original, *start, clockwise, mode)
                                                                   : walk_outline(element, *start, clockwise, mode);
        path.offset(offset);
        paths.push_back(std::move(path));
    });
    return paths;
}

// `original` is the picture `image` was made from, if there is one; it
// spares rebuilding the bits of a component without holes.
std::vector<Spline> splines(const RunMask& image, const BitRaster* original, const TraceParams& params) {
    std::vector<Spline> result;
    for_each_element(image, [&](const RunMask& element, PointI offset, bool clockwise) {
        const BitRaster bits = original != nullptr && &element == &image ? *original : element.to_bits();
        Spline spline = fit_spline_to_mask(bits, clockwise, params.corner_threshold, OUTLINE_BULGE_DIVISOR,
                                           params.length_threshold, params.max_iterations, params.splice_threshold,
                                           params.smoothing_budget);
        if (spline.points.size() < 4) return;
        spline.offset(to_float(offset));
        result.push_back(std::move(spline));
    });
    return result;
}

CompoundPath trace(const RunMask& image, const BitRaster* original, PointI offset, const TraceParams& params) {
    CompoundPath compound;
    if (image.has_no_pixels()) return compound;
    if (params.mode == PathMode::Spline) {
        for (Spline& spline : splines(image, original, params)) {
            spline.offset(to_float(offset));
            compound.append(std::move(spline));
        }
    } else {
        for (PixelPath& path : pixel_paths(image, original, params.mode)) {
            path.offset(offset);
            compound.append(std::move(path));
        }
    }
    return compound;
}

}  // namespace

CompoundPath trace_mask(const RunMask& image, PointI offset, const TraceParams& params) {
    return trace(image, nullptr, offset, params);
}

CompoundPath trace_mask(const RunMask& image, const BitRaster& bits, PointI offset, const TraceParams& params) {
    return trace(image, &bits, offset, params);
}

CompoundPath trace_image(const BitRaster& image, PointI offset, const TraceParams& params) {
    return trace(RunMask::from_bits(image), &image, offset, params);
}

std::vector<PixelPath> trace_pixel_paths(const BitRaster& image, PathMode mode) {
    if (image.has_no_pixels()) return {};
    return pixel_paths(RunMask::from_bits(image), &image, mode);
}

std::vector<Spline> trace_splines(const BitRaster& image, const TraceParams& params) {
    if (image.has_no_pixels()) return {};
    return splines(RunMask::from_bits(image), &image, params);
}

}  // namespace glyph
