#include "simplify.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace glyph {

double corner_distance(PointI from, PointI to) {
    // Doubles, not 32-bit integers: the squares of wide pictures' differences
    // do not fit; below 2**26 they are exact either way.
    const auto dx = static_cast<double>(static_cast<std::int64_t>(to.x) - from.x);
    const auto dy = static_cast<double>(static_cast<std::int64_t>(to.y) - from.y);
    return std::sqrt(dx * dx + dy * dy);
}

PixelPath drop_stair_steps(const PixelPath& path, bool clockwise) {
    const std::vector<PointI>& p = path.points;
    const std::size_t n = p.size();
    PixelPath result;
    if (n == 0) return result;
    result.points.push_back(p[0]);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const PointI cur = p[i + 1];
        if (i + 2 == n) {
            result.points.push_back(cur);
            break;
        }
        const PointI prev = p[i];
        const PointI next = p[i + 2];
        const auto manhattan = [](PointI a, PointI b) {
            return std::llabs(static_cast<long long>(a.x) - b.x) + std::llabs(static_cast<long long>(a.y) - b.y);
        };
        if (manhattan(cur, prev) != 1 && manhattan(cur, next) != 1) {
            result.points.push_back(cur);
            continue;
        }
        // Cross product in 32-bit arithmetic with wrap-around.
        const auto d = [](std::int32_t to, std::int32_t from) {
            return static_cast<std::uint32_t>(to) - static_cast<std::uint32_t>(from);
        };
        const auto s = static_cast<std::int32_t>(d(cur.x, prev.x) * d(next.y, prev.y) -
                                                 d(cur.y, prev.y) * d(next.x, prev.x));
        if ((s > 0 && clockwise) || (s < 0 && !clockwise)) result.points.push_back(cur);
    }
    return result;
}

namespace {

// Corners within this bound keep every difference below 2**26, so squared
// lengths are exact doubles and cross products fit in 64 bits.
constexpr std::int32_t EXACT_COORDINATE_LIMIT = std::int32_t{1} << 25;

constexpr double UNIT_ROUNDOFF = 0x1p-53;

struct Vec {
    std::int64_t x;
    std::int64_t y;
    bool operator==(const Vec&) const = default;
    auto operator<=>(const Vec&) const = default;
};

std::int64_t cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
Vec minus(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }

// Convex hull of the vertices skipped so far, relative to the edge start. The
// largest distance from any edge through the start is reached at a hull
// vertex, and vertices that hug a straight edge have a tiny hull.
class PendingHull {
public:
    void clear() { hull_.clear(); }

    void insert(Vec p) {
        if (contains(p)) return;
        scratch_.assign(hull_.begin(), hull_.end());
        scratch_.push_back(p);
        rebuild();
    }

    const std::vector<Vec>& vertices() const { return hull_; }

private:
    // Inside or on the boundary of a hull with three or more vertices.
    bool contains(Vec p) const {
        if (hull_.size() < 3) return std::find(hull_.begin(), hull_.end(), p) != hull_.end();
        for (std::size_t k = 0; k < hull_.size(); ++k) {
            const Vec from = hull_[k];
            const Vec to = hull_[(k + 1) % hull_.size()];
            if (cross(minus(to, from), minus(p, from)) < 0) return false;
        }
        return true;
    }

    // Andrew's monotone chain, anticlockwise in a y-up frame, collinear points dropped.
    void rebuild() {
        std::sort(scratch_.begin(), scratch_.end());
        scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
        hull_.clear();
        if (scratch_.size() < 3) {
            hull_ = scratch_;
            return;
        }
        hull_.resize(2 * scratch_.size());
        std::size_t k = 0;
        for (const Vec p : scratch_) {
            while (k >= 2 && cross(minus(hull_[k - 1], hull_[k - 2]), minus(p, hull_[k - 2])) <= 0) --k;
            hull_[k++] = p;
        }
        const std::size_t upper_start = k + 1;
        for (std::size_t i = scratch_.size() - 1; i-- > 0;) {
            const Vec p = scratch_[i];
            while (k >= upper_start && cross(minus(hull_[k - 1], hull_[k - 2]), minus(p, hull_[k - 2])) <= 0) --k;
            hull_[k++] = p;
        }
        hull_.resize(k - 1);
    }

    std::vector<Vec> hull_;
    std::vector<Vec> scratch_;
};

bool any_term_reaches_tolerance(const std::vector<PointI>& p, std::size_t last, std::size_t i) {
    const PointI a = p[last];
    const PointI b = p[i];
    const double base = corner_distance(a, b);
    for (std::size_t j = last + 1; j < i; ++j) {
        const PointI c = p[j];
        if (penalty_term(corner_distance(a, c), corner_distance(c, b), base) >= PENALTY_TOLERANCE) return true;
    }
    return false;
}

PixelPath prune_by_penalty_directly(const PixelPath& path) {
    const std::vector<PointI>& p = path.points;
    const std::size_t n = p.size();
    PixelPath result;
    std::size_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0) {
            result.points.push_back(p[0]);
        } else if (i >= last + 2 && any_term_reaches_tolerance(p, last, i)) {
            result.points.push_back(p[i - 1]);
            last = i - 1;
        }
        if (i + 1 == n) result.points.push_back(p[n - 1]);
    }
    return result;
}

bool has_small_coordinates(const std::vector<PointI>& points) {
    return std::all_of(points.begin(), points.end(), [](PointI q) {
        return q.x > -EXACT_COORDINATE_LIMIT && q.x < EXACT_COORDINATE_LIMIT && q.y > -EXACT_COORDINATE_LIMIT &&
               q.y < EXACT_COORDINATE_LIMIT;
    });
}

}  // namespace

// The penalty of a run is its largest term, and a run ends when that reaches
// the tolerance, i.e. when any single term does. Rather than evaluate every
// term for every new end vertex, the exact integer cross products bound them:
// the term of a skipped vertex c is cross(b - a, c - a)**2 / (4 |b - a|) up
// to rounding, and its largest cross product is found on the convex hull of
// the skipped vertices. Heron's rule in doubles deviates from the exact value
// by less than 1.4 u s**4 / base (u = 2**-53, s the half perimeter, at most
// R + base with R the farthest skipped vertex from a), so when the exact
// maximum is below 1 minus twice that bound no rounded term can reach 1.
// Otherwise the float term of the extreme vertex decides if it reaches 1,
// and only if it does not are all terms evaluated as written.
PixelPath prune_by_penalty(const PixelPath& path) {
    const std::vector<PointI>& p = path.points;
    if (!has_small_coordinates(p)) return prune_by_penalty_directly(path);
    const std::size_t n = p.size();
    PixelPath result;
    PendingHull hull;
    std::int64_t farthest_squared = 0;
    std::size_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0) {
            result.points.push_back(p[0]);
        } else if (i >= last + 2) {
            const PointI a = p[last];
            const PointI b = p[i];
            const Vec added{std::int64_t{p[i - 1].x} - a.x, std::int64_t{p[i - 1].y} - a.y};
            hull.insert(added);
            farthest_squared = std::max(farthest_squared, added.x * added.x + added.y * added.y);

            const Vec edge{std::int64_t{b.x} - a.x, std::int64_t{b.y} - a.y};
            Vec extreme{0, 0};
            std::int64_t extreme_cross = -1;
            for (const Vec v : hull.vertices()) {
                const std::int64_t c = std::llabs(cross(edge, v));
                if (c > extreme_cross) {
                    extreme_cross = c;
                    extreme = v;
                }
            }
            const double base = corner_distance(a, b);
            const PointI c{static_cast<std::int32_t>(a.x + extreme.x), static_cast<std::int32_t>(a.y + extreme.y)};
            bool reached = penalty_term(corner_distance(a, c), corner_distance(c, b), base) >= PENALTY_TOLERANCE;
            if (!reached) {
                bool proven_below = false;
                if (base > 0.0) {
                    const double reach = std::sqrt(static_cast<double>(farthest_squared)) + base + 1.0;
                    const double margin = 1e-9 + 4.0 * UNIT_ROUNDOFF * (reach * reach) * (reach * reach) / base;
                    const auto cross_value = static_cast<double>(extreme_cross);
                    proven_below = margin < 0.5 && cross_value * cross_value < 4.0 * base * (1.0 - margin);
                }
                if (!proven_below) reached = any_term_reaches_tolerance(p, last, i);
            }
            if (reached) {
                result.points.push_back(p[i - 1]);
                last = i - 1;
                hull.clear();
                farthest_squared = 0;
            }
        }
        if (i + 1 == n) result.points.push_back(p[n - 1]);
    }
    return result;
}

}  // namespace glyph
