#include "net/FirstEventTree.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Which of eight times equal `t` (bit k for time k).
inline unsigned equalOfEight(const double* times, double t) {
#ifdef __SSE2__
    const __m128d tt = _mm_set1_pd(t);
    return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(times), tt)) |
                                 _mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(times + 2), tt)) << 2 |
                                 _mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(times + 4), tt)) << 4 |
                                 _mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(times + 6), tt)) << 6);
#else
    unsigned which = 0;
    for (int k = 0; k < 8; ++k)
        if (times[k] == t) which |= 1u << k;
    return which;
#endif
}

// The earliest of eight times (none of them is not a number).
inline double earliestOfEight(const double* times) {
#ifdef __SSE2__
    const __m128d m2 = _mm_min_pd(_mm_min_pd(_mm_loadu_pd(times), _mm_loadu_pd(times + 2)),
                                  _mm_min_pd(_mm_loadu_pd(times + 4), _mm_loadu_pd(times + 6)));
    return _mm_cvtsd_f64(_mm_min_sd(m2, _mm_unpackhi_pd(m2, m2)));
#else
    double m = times[0];
    for (int k = 1; k < 8; ++k) m = times[k] < m ? times[k] : m;
    return m;
#endif
}

}  // namespace

void FirstEventTree::reset(std::size_t n) {
    events.assign(n, nullptr);
    owners.assign(n, nullptr);
    // Leaves, then levels of parents, up to a level of one node.
    start.assign(1, 0);
    std::size_t count = n;
    do {
        start.push_back(start.back() + (count == 0 ? kFanOut : (count + kFanOut - 1) / kFanOut * kFanOut));
        count = (count + kFanOut - 1) / kFanOut;
    } while (count > 1);
    start.push_back(start.back() + 1);
    const std::size_t levels = start.size() - 1;
    time.assign(start.back(), std::numeric_limits<double>::infinity());
    priority.assign(start.back(), INT_MIN);
    winnerTie.assign(start.back(), 0);
    for (std::size_t i = 0; i < n; ++i) winnerTie[i] = static_cast<std::uint32_t>(i) * 2;
    markStart.assign(1, 0);
    for (std::size_t l = 0; l < levels; ++l) markStart.push_back(markStart.back() + (start[l + 1] - start[l] + 63) / 64);
    marks.assign(markStart.back(), 0);
    leafParentMarks = &marks[markStart[1]];
    for (std::size_t l = 1; l < levels; ++l)
        for (std::size_t j = 0; j < start[l + 1] - start[l]; ++j)
            if (j * kFanOut < start[l] - start[l - 1]) recompute(l, j);
}

// The best of the eight children: the earliest time, there the highest
// priority, and of those the leftmost. Usually exactly one child has the
// earliest time.
inline bool FirstEventTree::recompute(std::size_t l, std::size_t j) {
    const std::size_t first = start[l - 1] + j * kFanOut;
    const double t = earliestOfEight(&time[first]);
    unsigned which = equalOfEight(&time[first], t);
    std::size_t c = first + static_cast<std::size_t>(__builtin_ctz(which));
    int p = priority[c];
    std::uint32_t w = winnerTie[c];
    for (which &= which - 1; which != 0; which &= which - 1) {
        const std::size_t k = first + static_cast<std::size_t>(__builtin_ctz(which));
        if (priority[k] > p) {
            p = priority[k];
            w = winnerTie[k];
        } else if (priority[k] == p) {
            w |= 1u;
        }
    }
    const std::size_t at = start[l] + j;
    if (time[at] == t && priority[at] == p && winnerTie[at] == w) return false;
    time[at] = t;
    priority[at] = p;
    winnerTie[at] = w;
    return true;
}

// Level by level, each marked node once; a node that changed marks its
// parent. A level without marks ends the walk: only changes below mark.
void FirstEventTree::takeInChanges() {
    const std::size_t levels = start.size() - 1;
    for (std::size_t l = 1; l < levels; ++l) {
        std::uint64_t* bits = &marks[markStart[l]];
        const std::size_t words = markStart[l + 1] - markStart[l];
        std::uint64_t* above = l + 1 < levels ? &marks[markStart[l + 1]] : nullptr;
        bool any = false;
        for (std::size_t word = 0; word < words; ++word) {
            for (std::uint64_t m = bits[word]; m != 0; m &= m - 1) {
                any = true;
                const std::size_t j = word * 64 + static_cast<std::size_t>(__builtin_ctzll(m));
                if (recompute(l, j) && above != nullptr) above[j / (kFanOut * 64)] |= std::uint64_t(1) << (j / kFanOut % 64);
            }
            bits[word] = 0;
        }
        if (!any) break;
    }
}

void FirstEventTree::collectEarliest(std::vector<Binding*>& out, double latest) {
    takeInChanges();
    const std::size_t top = start.size() - 2;
    const std::size_t root = start[top];
    const double t = time[root];
    const int p = priority[root];
    if (!(t <= latest)) return;
    if (t == latest && p < 0) return;
    if ((winnerTie[root] & 1u) == 0) {
        out.push_back(events[winnerTie[root] / 2]);
        return;
    }
    appendTies(top, 0, t, p, out);
}

// The events below node `j` of level `l` with time `t` and priority `p`, left
// to right: only subtrees whose best event has them can hold one.
void FirstEventTree::appendTies(std::size_t l, std::size_t j, double t, int p, std::vector<Binding*>& out) const {
    const std::size_t at = start[l] + j;
    if (priority[at] != p) return;
    if ((winnerTie[at] & 1u) == 0) {
        out.push_back(events[winnerTie[at] / 2]);
        return;
    }
    const std::size_t first = j * kFanOut;
    for (unsigned which = equalOfEight(&time[start[l - 1] + first], t); which != 0; which &= which - 1)
        appendTies(l - 1, first + static_cast<std::size_t>(__builtin_ctz(which)), t, p, out);
}
