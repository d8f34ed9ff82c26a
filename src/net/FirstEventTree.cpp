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

// The earliest of `n` times, n a multiple of eight (none of them is not a
// number). Four running minima, so that the minimum operations do not wait
// for each other.
inline double earliestOf(const double* times, std::size_t n) {
#ifdef __SSE2__
    __m128d m0 = _mm_loadu_pd(times), m1 = _mm_loadu_pd(times + 2), m2 = _mm_loadu_pd(times + 4),
            m3 = _mm_loadu_pd(times + 6);
    for (std::size_t i = 8; i < n; i += 8) {
        m0 = _mm_min_pd(_mm_loadu_pd(times + i), m0);
        m1 = _mm_min_pd(_mm_loadu_pd(times + i + 2), m1);
        m2 = _mm_min_pd(_mm_loadu_pd(times + i + 4), m2);
        m3 = _mm_min_pd(_mm_loadu_pd(times + i + 6), m3);
    }
    const __m128d m = _mm_min_pd(_mm_min_pd(m0, m1), _mm_min_pd(m2, m3));
    return _mm_cvtsd_f64(_mm_min_sd(m, _mm_unpackhi_pd(m, m)));
#else
    double m = times[0];
    for (std::size_t k = 1; k < n; ++k) m = times[k] < m ? times[k] : m;
    return m;
#endif
}

// The top level holds at most this many nodes (one group of eight); it is
// scanned whole at every collection. A net of up to eight transitions needs
// no level above its leaves; any larger one recomputes only the groups
// whose leaves changed, which costs less than scanning every leaf.
constexpr std::size_t kTopNodes = 8;

}  // namespace

void FirstEventTree::reset(std::size_t n) {
    events.assign(n, nullptr);
    owners.assign(n, nullptr);
    // Leaves, then levels of parents, up to a level of at most kTopNodes
    // nodes; each padded to a multiple of kFanOut, and never empty.
    start.assign(1, 0);
    std::size_t count = n;
    for (;;) {
        start.push_back(start.back() + (count == 0 ? kFanOut : (count + kFanOut - 1) / kFanOut * kFanOut));
        if (count <= kTopNodes) break;
        count = (count + kFanOut - 1) / kFanOut;
    }
    const std::size_t levels = start.size() - 1;
    time.assign(start.back(), std::numeric_limits<double>::infinity());
    priority.assign(start.back(), INT_MIN);
    winnerTie.assign(start.back(), 0);
    for (std::size_t i = 0; i < n; ++i) winnerTie[i] = static_cast<std::uint32_t>(i) * 2;
    markStart.assign(1, 0);
    for (std::size_t l = 0; l < levels; ++l) markStart.push_back(markStart.back() + (start[l + 1] - start[l] + 63) / 64);
    // One word more: with the leaves on top, the leaves' marks go there and
    // are never read.
    marks.assign(markStart.back() + 1, 0);
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
    const double t = earliestOf(&time[first], kFanOut);
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

// The top level is scanned like a row of slots: the earliest time without
// branches, then the nodes at that time (usually exactly one).
inline bool FirstEventTree::scanTop(double latest, double& t, std::size_t& firstAt, bool& several) const {
    const std::size_t top = start.size() - 2;
    const double* const times = &time[start[top]];
    const std::size_t n = start[top + 1] - start[top];
    t = earliestOf(times, n);
    if (!(t <= latest)) return false;
    firstAt = n;
    unsigned count = 0;
    for (std::size_t i = 0; i < n; i += kFanOut) {
        const unsigned which = equalOfEight(times + i, t);
        if (which == 0) continue;
        if (firstAt == n) firstAt = i + static_cast<std::size_t>(__builtin_ctz(which));
        // Only whether there is more than one counts.
        count += (which & (which - 1)) != 0 ? 2 : 1;
    }
    several = count > 1;
    return true;
}

// Only a tie costs a look at the priorities.
void FirstEventTree::collectEarliest(std::vector<Binding*>& out, double latest) {
    // With the leaves on top there is nothing to recompute.
    if (start.size() > 2) takeInChanges();
    double t;
    std::size_t firstAt;
    bool several;
    if (!scanTop(latest, t, firstAt, several)) return;
    const std::size_t top = start.size() - 2;
    const double* const times = &time[start[top]];
    const int* const priorities = &priority[start[top]];
    const std::size_t n = start[top + 1] - start[top];
    // At the latest time itself only priorities of 0 or more count.
    const int floor = t == latest ? 0 : INT_MIN;
    if (!several) {
        if (priorities[firstAt] < floor) return;
        const std::uint32_t w = winnerTie[start[top] + firstAt];
        if ((w & 1u) == 0) out.push_back(events[w / 2]);
        else appendTies(top, firstAt, t, priorities[firstAt], out);
        return;
    }
    int p = floor;
    bool any = false;
    for (std::size_t i = firstAt; i < n; ++i) {
        if (times[i] == t && priorities[i] >= p) {
            p = priorities[i];
            any = true;
        }
    }
    if (!any) return;
    for (std::size_t i = firstAt; i < n; ++i)
        if (times[i] == t && priorities[i] == p) appendTies(top, i, t, p, out);
}

Binding* FirstEventTree::earliestAlone(double latest) {
    if (start.size() > 2) takeInChanges();
    double t;
    std::size_t firstAt;
    bool several;
    if (!scanTop(latest, t, firstAt, several) || several) return nullptr;
    const std::size_t at = start[start.size() - 2] + firstAt;
    if (t == latest && priority[at] < 0) return nullptr;
    const std::uint32_t w = winnerTie[at];
    return (w & 1u) == 0 ? events[w / 2] : nullptr;
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
