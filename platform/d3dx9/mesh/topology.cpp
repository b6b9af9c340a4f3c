// Point representatives and face adjacency.
#include "platform/d3dx9/mesh/topology.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <tuple>

namespace fw::d3dx9mesh {

namespace {

// Union-find whose roots are always the smallest index of their set.
struct PointSets {
    std::vector<DWORD> parent;
    explicit PointSets(DWORD n) : parent(n) { std::iota(parent.begin(), parent.end(), 0u); }
    DWORD Find(DWORD v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    }
    void Join(DWORD a, DWORD b) {
        a = Find(a), b = Find(b);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    }
    std::vector<DWORD> Reps() {
        std::vector<DWORD> reps(parent.size());
        for (DWORD v = 0; v < reps.size(); ++v)
            reps[v] = Find(v);
        return reps;
    }
};

struct Point {
    float x, y, z;
};

Point ReadPoint(const BYTE* vertices, DWORD stride, DWORD v) {
    Point p;
    std::memcpy(&p, vertices + size_t(v) * stride, sizeof p);
    return p;
}

} // namespace

std::vector<DWORD> PointRepsFromPositions(const BYTE* vertices, DWORD stride, DWORD numVertices,
                                          float epsilon) {
    std::vector<Point> points(numVertices);
    for (DWORD v = 0; v < numVertices; ++v)
        points[v] = ReadPoint(vertices, stride, v);
    // Sorted by copies of the keys beside the index, not through the index: the sort then
    // reads memory in order. A NaN coordinate (a damaged file) must not break the ordering.
    struct Keyed {
        float x, y, z;
        DWORD v;
    };
    auto key = [](float f) { return std::isnan(f) ? INFINITY : f; };
    std::vector<Keyed> keyed(numVertices);
    for (DWORD v = 0; v < numVertices; ++v)
        keyed[v] = {key(points[v].x), key(points[v].y), key(points[v].z), v};
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& p, const Keyed& q) {
        return std::tuple(p.x, p.y, p.z, p.v) < std::tuple(q.x, q.y, q.z, q.v);
    });
    std::vector<DWORD> order(numVertices);
    for (DWORD i = 0; i < numVertices; ++i)
        order[i] = keyed[i].v;
    epsilon = std::max(epsilon, 0.0f);
    PointSets sets(numVertices);
    // Exact copies lie next to each other: join each run and compare only its first point,
    // so many vertices at one position cost linear time, not quadratic.
    auto same = [&](DWORD a, DWORD b) {
        const Point &p = points[a], &q = points[b];
        return p.x == q.x && p.y == q.y && p.z == q.z;
    };
    std::vector<DWORD> distinct;
    distinct.reserve(numVertices);
    auto damaged = [&](DWORD v) {
        return std::isnan(points[v].x) || std::isnan(points[v].y) || std::isnan(points[v].z);
    };
    for (DWORD i = 0; i < numVertices; ++i) {
        if (damaged(order[i]))
            continue; // a point that is not a number is near nothing
        if (i > 0 && same(order[i - 1], order[i]))
            sets.Join(order[i - 1], order[i]);
        else
            distinct.push_back(order[i]);
    }
    if (epsilon == 0.0f)
        return sets.Reps();
    // Sorted by x, a point needs comparing only with those at most epsilon further on.
    for (size_t i = 0; i < distinct.size(); ++i) {
        const Point& p = points[distinct[i]];
        for (size_t j = i + 1; j < distinct.size(); ++j) {
            const Point& q = points[distinct[j]];
            if (q.x - p.x > epsilon)
                break;
            if (std::fabs(q.y - p.y) <= epsilon && std::fabs(q.z - p.z) <= epsilon)
                sets.Join(distinct[i], distinct[j]);
        }
    }
    return sets.Reps();
}

void AdjacencyFromFaces(const std::vector<DWORD>& faces, const std::vector<DWORD>& reps,
                        DWORD* adjacency) {
    const DWORD numFaces = DWORD(faces.size() / 3);
    const size_t numPoints = reps.size();
    auto valid = [&](DWORD f) {
        return faces[f * 3] < numPoints && faces[f * 3 + 1] < numPoints &&
               faces[f * 3 + 2] < numPoints;
    };
    auto ends = [&](DWORD f, int e) {
        return std::pair(reps[faces[f * 3 + e]], reps[faces[f * 3 + (e + 1) % 3]]);
    };
    // Directed edges grouped by their first point, in two flat arrays instead of a node per
    // edge: a counting sort puts each group in face order, a sort by second point keeps it
    // so, and the first face with an edge (b, a) is then a binary search in b's group.
    struct Edge {
        DWORD end, face;
        bool operator<(const Edge& other) const {
            return end != other.end ? end < other.end : face < other.face;
        }
    };
    std::vector<DWORD> first(numPoints + 1, 0);
    for (DWORD f = 0; f < numFaces; ++f)
        if (valid(f))
            for (int e = 0; e < 3; ++e)
                ++first[ends(f, e).first + 1];
    std::partial_sum(first.begin(), first.end(), first.begin());
    std::vector<Edge> edges(first[numPoints]);
    std::vector<DWORD> next(first.begin(), first.end() - 1);
    for (DWORD f = 0; f < numFaces; ++f)
        if (valid(f))
            for (int e = 0; e < 3; ++e) {
                auto [a, b] = ends(f, e);
                edges[next[a]++] = {b, f};
            }
    for (size_t p = 0; p < numPoints; ++p)
        std::sort(edges.begin() + first[p], edges.begin() + first[p + 1]);
    for (DWORD f = 0; f < numFaces; ++f) {
        for (int e = 0; e < 3; ++e) {
            DWORD& neighbour = adjacency[f * 3 + e];
            neighbour = kNoFace;
            if (!valid(f))
                continue;
            auto [a, b] = ends(f, e);
            if (a == b)
                continue;
            auto groupEnd = edges.begin() + first[b + 1];
            auto it = std::lower_bound(edges.begin() + first[b], groupEnd, Edge{a, 0});
            // The first face with the opposite edge, unless that is this face itself.
            if (it != groupEnd && it->end == a && it->face != f)
                neighbour = it->face;
        }
    }
}

std::vector<DWORD> PointRepsFromAdjacency(const std::vector<DWORD>& faces, DWORD numVertices,
                                          const DWORD* adjacency) {
    const DWORD numFaces = DWORD(faces.size() / 3);
    PointSets sets(numVertices);
    auto corner = [&](DWORD f, int k) { return faces[f * 3 + (k % 3)]; };
    for (DWORD f = 0; f < numFaces; ++f) {
        for (int e = 0; e < 3; ++e) {
            const DWORD g = adjacency[f * 3 + e];
            if (g >= numFaces || g == f)
                continue;
            // The neighbour's edge that points back at f runs the other way.
            for (int k = 0; k < 3; ++k) {
                if (adjacency[g * 3 + k] != f)
                    continue;
                const DWORD a = corner(f, e), b = corner(f, e + 1);
                const DWORD c = corner(g, k), d = corner(g, k + 1);
                if (a < numVertices && b < numVertices && c < numVertices && d < numVertices) {
                    sets.Join(a, d);
                    sets.Join(b, c);
                }
                break;
            }
        }
    }
    return sets.Reps();
}

} // namespace fw::d3dx9mesh
